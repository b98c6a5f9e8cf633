// The two-colour model's commands and the graphics planes they keep.
#pragma once

#include <string_view>

#include "machine.h"

namespace vprinter::detail {

// GS ( N: the character colour of a two-colour printer (logged and ignored on one colour).
void on_character_colour(machine& m, std::string_view b);
// Adds the dots of `plane` to `into`, or makes `into` a copy of it when their sizes differ.
void merge_into(bitmap& into, const bitmap& plane);

}  // namespace vprinter::detail
