// list_base: prints number, From and Subject of every message of a base,
// one line each, separated by TABs.
//
//   list_base '!/fido/jam/local'     (JAM; $ Squish, # *.MSG, P packet)
//
// Built against the installed library; see CMakeLists.txt and Makefile.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <quillor/quillor.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: list_base SPEC\n");
    return 2;
  }
  qlr::InstallBuiltInFormats();

  // OpenBase creates a base that is missing; a lister must not, so the
  // base's first file (or its directory) has to be there already.
  const qlr::BaseReference reference = qlr::ParseBaseReference(argv[1]);
  if (reference.format == nullptr) {
    std::fprintf(stderr, "list_base: %s: not a base of a known format\n", argv[1]);
    return 1;
  }
  std::string first = reference.location;
  if (reference.format->layout == qlr::FileLayout::kFileSet) {
    first += reference.format->extensions.front();
  }
  if (!std::filesystem::exists(first)) {
    std::fprintf(stderr, "list_base: %s: no such base\n", argv[1]);
    return 1;
  }

  std::unique_ptr<qlr::MessageBase> base;
  if (const qlr::Status opened = qlr::OpenBase(reference, &base); !opened.ok()) {
    std::fprintf(stderr, "list_base: %s: cannot open the base\n", argv[1]);
    return 1;
  }
  qlr::Message message;
  for (std::int32_t number = 1; number <= base->Count(); ++number) {
    // True on failure: a *.MSG directory may have gaps in its numbers.
    if (base->ReadMessage(number, message)) continue;
    const std::string from(message.From.view());
    const std::string subject(message.Subject.view());
    std::printf("%d\t%s\t%s\n", static_cast<int>(number), from.c_str(), subject.c_str());
  }
  return 0;
}
