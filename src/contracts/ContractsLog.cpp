#include "contracts/ContractsLog.h"

Q_LOGGING_CATEGORY(lcContracts, "tavrel.contracts")
