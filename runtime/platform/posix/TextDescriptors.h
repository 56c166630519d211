#pragma once

// Which open descriptors were opened in text mode: the runtime keeps that
// with the descriptor and a stream attached to it inherits it.
namespace platform::posix {

void MarkTextDescriptor(int descriptor, bool text);
bool IsTextDescriptor(int descriptor);

}  // namespace platform::posix
