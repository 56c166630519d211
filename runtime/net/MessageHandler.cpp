#include "MessageHandler.h"

bool CMessageHandler::CheckMessageSize(uint32_t)
{
    return true;
}

const char *CMessageHandler::GetHandlerName() const
{
    return "";
}
