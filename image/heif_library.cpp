#include "image/heif_library.h"

#include <dlfcn.h>

namespace {

const HeifLibrary* Load() {
  void* library = dlopen("libheif.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  static HeifLibrary loaded;
#define DUORAMIC_HEIF_RESOLVE(name)                                          \
  loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  if (!loaded.name) return nullptr;
  DUORAMIC_HEIF_FUNCTIONS(DUORAMIC_HEIF_RESOLVE)
#undef DUORAMIC_HEIF_RESOLVE
  return &loaded;
}

}  // namespace

const HeifLibrary* Heif() {
  static const HeifLibrary* library = Load();
  return library;
}
