#include "HttpGet.h"

#include <httplib.h>

HttpAnswer httpGet(int port, const std::string &path) {
  httplib::Client client("127.0.0.1", port);
  HttpAnswer answer;
  httplib::Result result = client.Get(path.c_str());
  if (!result) {
    answer.failure = httplib::to_string(result.error());
    return answer;
  }
  answer.status = result->status;
  answer.contentType = result->get_header_value("Content-Type");
  answer.body = result->body;
  return answer;
}
