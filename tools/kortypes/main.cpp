// kortypes: shows what the kor bindings register with the object-model
// runtime. All output comes from the runtime's reflection API.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "kortypes/types/kor.ServiceInstance.h"
#include "movel/type.h"

int main(int argc, char** argv) {
  // Taking the address of one of the library's records keeps the bindings
  // library linked in (the link drops libraries nothing refers to) and tells
  // us whether its loaders ran before main.
  if (!Movel::GetType(&gKorServiceInstanceTypeInfo)) {
    std::cerr << "kortypes: the bindings library registered no types\n";
    return 3;
  }
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    int status = kortypes::RunCommandLine(args, std::cout, std::cerr);
    std::cout.flush();
    return std::cout.good() ? status : 3;
  } catch (const std::exception& e) {
    std::cerr << "kortypes: internal error: " << e.what() << '\n';
    return 3;
  }
}
