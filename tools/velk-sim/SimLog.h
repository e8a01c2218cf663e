#ifndef VELK_SIMLOG_H
#define VELK_SIMLOG_H

#include "RequestParser.h"
#include "Responder.h"

#include <string>
#include <vector>

// One log line each (no newline), as text or as one JSON object; bytes in
// hexadecimal without leading zeros (strings in JSON), as velkctl shows them.
std::string formatRequest(const SimRequest& request, bool addressed, bool json);
std::string formatAnswer(const SimAnswer& answer, bool json);
std::string formatSkipped(const std::string& reason, const std::vector<unsigned char>& bytes,
                          bool json);

#endif
