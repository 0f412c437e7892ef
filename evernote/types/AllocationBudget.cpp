#include "evernote/types/AllocationBudget.h"

#include <string>

#include <thrift/Thrift.h>
#include <thrift/protocol/TProtocolException.h>

namespace evernote {

void AllocationBudget::fail(size_t bytes) const {
    using apache::thrift::protocol::TProtocolException;
    throw TProtocolException(TProtocolException::SIZE_LIMIT,
                             "decoding would need more than " + std::to_string(limit_) +
                                 " bytes of memory (" + std::to_string(kFactor) +
                                 " times the input plus 1 MiB): " + std::to_string(spent_) +
                                 " taken, " + std::to_string(bytes) + " more needed");
}

}  // namespace evernote
