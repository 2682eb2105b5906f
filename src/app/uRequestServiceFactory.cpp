#include "app/uRequestService.h"

namespace zelto {

// The request service joins the program here: wrap TZeltoServer (OutputType iotXML) in an IRequestService
// and return it. Until it exists, variable requests are answered "Request service not available" (503).
std::unique_ptr<IRequestService> CreateRequestService(const IMainWindowState& /*window*/) { return nullptr; }

}  // namespace zelto
