#pragma once

/// \file
/// The whole public interface of SharedLib.

#include "Export.h"

#include "platform/ChildProcess.h"
#include "platform/Clock.h"
#include "platform/Debugger.h"
#include "platform/DriveMap.h"
#include "platform/FileStream.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Lock.h"
#include "platform/MemoryMapping.h"
#include "platform/MessageBox.h"
#include "platform/NamedPipe.h"
#include "platform/Process.h"
#include "platform/ServiceControl.h"
#include "platform/Socket.h"
#include "platform/SocketEvents.h"
#include "platform/System.h"

#include "enums/DBType.h"
#include "enums/Error.h"
#include "enums/Event.h"
#include "enums/Log.h"
#include "enums/Msg.h"

#include "log/ConditionalLog.h"
#include "log/FrameEventLog.h"
#include "log/LogFile.h"
#include "log/LogSeverity.h"
#include "log/LogStatement.h"
#include "log/Logger.h"
#include "log/PerfCounter.h"

#include "serialize/BitField.h"
#include "serialize/Buffer.h"
#include "serialize/CharVector.h"
#include "serialize/Md5.h"
#include "serialize/PackedData.h"
#include "serialize/Version.h"

#include "encode/Base16.h"
#include "encode/Base32.h"
#include "encode/Base64.h"

#include "net/BundleManager.h"
#include "net/ConnFifoBuffer.h"
#include "net/Connection.h"
#include "net/FifoBuffer.h"
#include "net/Listener.h"
#include "net/MessageHandler.h"
#include "net/SocketHelpers.h"

#include "rpc/Rpc.h"
#include "rpc/RpcHooks.h"
#include "rpc/RpcMgr.h"

#include "util/Clock.h"
#include "util/Conversions.h"
#include "util/Desktop.h"
#include "util/GamePath.h"
#include "util/MathHelpers.h"
#include "util/MemoryMap.h"
#include "util/Perforce.h"
#include "util/Processors.h"
#include "util/Spawn.h"

#include "service/ServiceManager.h"

#include "progress/Progress.h"
