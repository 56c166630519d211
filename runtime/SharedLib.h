#pragma once

// The whole public interface of SharedLib.

#include "Export.h"

#include "platform/Clock.h"
#include "platform/Debugger.h"
#include "platform/Lock.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"

#include "enums/DBType.h"
#include "enums/Error.h"
#include "enums/Event.h"
#include "enums/Log.h"
#include "enums/Msg.h"

#include "log/ConditionalLog.h"
#include "log/LogFile.h"
#include "log/LogSeverity.h"
#include "log/LogStatement.h"
#include "log/Logger.h"
