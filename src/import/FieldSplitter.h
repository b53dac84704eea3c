// Splitting a decoded data-file line into its fields.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/Message.h"

namespace yubin::import {

// Splits `text` at every comma (and, with `atTabs`, at every tab) into `fields`, empty fields
// kept: a line always has at least one field. There is no quoting: the quotes of a line are
// gone before it is split (Cp932Decoder), so a comma that stood between quotes separates
// fields as well. The views point into `text`.
void splitAtSeparators(std::string_view text, bool atTabs, std::vector<std::string_view>& fields);

// The description of a line that has `found` fields where its kind of file has `expected`:
// too few would leave columns unfilled, too many would be cut off unseen (a file of the other
// kind, a comma inside a name).
Message describeFieldCount(std::size_t found, std::size_t expected);

}  // namespace yubin::import
