#include "net/ext/PacketLogger.h"

namespace velt {

PacketFileLogger::~PacketFileLogger() {
    if (file_ != nullptr) std::fclose(file_);
}

}  // namespace velt
