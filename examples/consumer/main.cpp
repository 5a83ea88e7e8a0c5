// Builds an AboutInfo, copies it and compares the copy; prints the registered
// type of the copy. Exits non-zero when anything is off.
#include <iostream>

#include "kortypes/kortypes.h"

int main() {
  Basekit::Ref<Kor::AboutInfo> about(new Kor::AboutInfo());
  about->name = "consumer";
  about->apiVersion = "6.0";
  Basekit::Ref<Movel::Any> copy(about->_Clone());
  if (!Movel::AreEqualAnysInt(about, copy, 0, false)) return 1;
  Movel::Type* type = copy->_GetType();
  if (!type || type != Movel::FindTypeByWsdlName("AboutInfo")) return 2;
  std::cout << type->GetName() << " " << Movel::GetVersionId(type->GetVersionName()) << "\n";
  return 0;
}
