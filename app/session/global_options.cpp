#include "global_options.h"

namespace lintrel {

GlobalOptionsRecord GlobalOptions;
IoOptionTransferRecord IoOptionTransfer;
std::int32_t PingIdleTicks = 0;

}  // namespace lintrel
