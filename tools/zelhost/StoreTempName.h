#pragma once
// The temporary names AtomicWriteFile gives its files, read back: one parser for both platforms'
// clean-up of what a killed writer left.
#include <cstdint>
#include <optional>
#include <string_view>

namespace zelhost {

// The writer's pid when `name` is "<prefix><pid>-<counter>.tmp" (both decimal, the pid above 0 and
// within 32 bits); nothing for any other name.
std::optional<uint32_t> TempWriterPid(std::string_view name, std::string_view prefix);

}  // namespace zelhost
