#include "import/FieldSplitter.h"

namespace yubin::import {

Message describeFieldCount(std::size_t found, std::size_t expected) {
    if (found < expected) return Message("項目が {1} 個に足りません（{2} 個）。", expected, found);
    return Message("項目が {1} 個より多くあります（{2} 個）。", expected, found);
}

}  // namespace yubin::import
