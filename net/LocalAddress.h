#pragma once
// Whether a destination host names this machine, judged without a lookup: literal loopback and
// unspecified addresses, the addresses of its interfaces, "localhost" and the machine's own name.
// A name that only a lookup could tie to this machine answers false.
#include <string>

namespace net {

bool isThisHost(const std::string& host);

}  // namespace net
