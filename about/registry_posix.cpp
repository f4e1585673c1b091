// Until the stand-in lands: a registry with no keys.
#include "about/registry.h"

namespace about {
namespace {
class EmptyRegistry final : public Registry {
 public:
  std::int32_t RegOpenKeyExA(RegistryKey, const char*, std::uint32_t, std::uint32_t,
                             RegistryKey&) override {
    return 2;
  }
  std::int32_t RegQueryValueExA(RegistryKey, const char*, std::uint32_t*, std::uint32_t&,
                                unsigned char*, std::uint32_t&) override {
    return 6;
  }
  std::int32_t RegCloseKey(RegistryKey) override { return 6; }
};
}  // namespace

Registry& PlatformRegistry() {
  static EmptyRegistry registry;
  return registry;
}
}  // namespace about
