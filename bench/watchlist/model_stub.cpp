// bench-model-stub DELAY_MS: a loopback chat-completions server whose every answer comes after
// DELAY_MS milliseconds. Prints its base URL on the first line of standard output, then serves
// until standard input closes.
#include <cstdlib>
#include <iostream>
#include <string>

#include "support/chat_stub.hpp"

int main(int argc, char** argv) {
  const long delay = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200;
  zv_test::ChatStub stub;
  auto reply = zv_test::ChatStub::reply("模型回复：观望，等待更明确的信号。");
  reply.delay = std::chrono::milliseconds(delay);
  stub.set_default_response(reply);
  std::cout << stub.base_url() << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
