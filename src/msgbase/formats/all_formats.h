// The one place that knows every storage format: the table the format
// registry is given at start-up.
#pragma once

#include <span>

#include "msgbase/format_registry.h"

namespace qlr {

// Every format of this build: *.MSG directory, packet, Squish, JAM.
std::span<const FormatDescriptor* const> BuiltInFormats();

// Installs BuiltInFormats() in the registry.
void InstallBuiltInFormats();

}  // namespace qlr
