// Reads arbitrary bytes as a Windows image and looks for the fixed file
// information of its version resource. The reader is internal to the library,
// so its source is compiled into this target. Any input must give an answer
// without reading outside the bytes (checked by the sanitizers), and the same
// answer twice.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "../../runtime/serialize/PeVersionResource.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::span<const uint8_t> const bytes(data, size);
    pe_version::FileVersion first{1, 2, 3, 4};
    pe_version::Outcome firstOutcome = pe_version::Outcome::Found;
    bool const found = pe_version::ReadFileVersion(bytes, first, &firstOutcome);

    pe_version::FileVersion second{1, 2, 3, 4};
    pe_version::Outcome secondOutcome = pe_version::Outcome::NotAnImage;
    bool const again = pe_version::ReadFileVersion(bytes, second, &secondOutcome);

    if (found != again || firstOutcome != secondOutcome || found != (firstOutcome == pe_version::Outcome::Found))
        std::abort();
    if (found && (first.major != second.major || first.minor != second.minor || first.minor2 != second.minor2 ||
                  first.build != second.build))
        std::abort();
    // A failed read leaves the result alone.
    if (!found && (first.major != 1 || first.minor != 2 || first.minor2 != 3 || first.build != 4))
        std::abort();
    return 0;
}
