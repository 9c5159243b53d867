// One HTTP GET on 127.0.0.1 through cpp-httplib's client, declared apart
// from the library, whose system headers define names (DELETE, NOERROR) that
// the Windows headers define too.
#pragma once

#include <string>

struct HttpAnswer {
  int status = 0;  // 0 when no answer came
  std::string contentType;
  std::string body;
  std::string failure;  // the client's reason when no answer came
};

HttpAnswer httpGet(int port, const std::string &path);
