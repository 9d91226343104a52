#include "textio/messages.hpp"

namespace quarn {

std::string_view IoMessageTemplate(int message) {
  switch (message) {
    case kMsgPermissionDenied:
      return "permission to access file denied, unit %d, file %s";
    case kMsgRecordTooLong:
      return "input record too long, unit %d, file %s";
    case kMsgEndOfFile:
      return "end-of-file during read, unit %d, file %s";
    case kMsgFileNotFound:
      return "file not found, unit %d, file %s";
    case kMsgOpenFailure:
      return "open failure, unit %d, file %s";
    case kMsgWriteError:
      return "error during write, unit %d, file %s";
    case kMsgReadError:
      return "error during read, unit %d, file %s";
    case kMsgNoSuchDevice:
      return "no such device, unit %d, file %s";
    case kMsgFileNameError:
      return "file name specification error, unit %d, file %s";
    case kMsgWriteToReadOnly:
      return "write to READONLY file, unit %d, file %s";
    case kMsgSyntaxError:
      return "list-directed I/O syntax error, unit %d, file %s";
    case kMsgConversionError:
      return "input conversion error, unit %d, file %s";
    default:
      return {};
  }
}

std::string_view MathKindName(int message) {
  switch (message) {
    case kMathDomain:
      return "DOMAIN";
    case kMathSingularity:
      return "SING";
    case kMathOverflow:
      return "OVERFLOW";
    default:
      return {};
  }
}

}  // namespace quarn
