#include "import/DataFile.h"

#include "store/mdlYubinBox.h"

namespace yubin::import {

std::string DataFileStamp(const std::string& path) { return mdlYubinBox::GetFileDate(path); }

}  // namespace yubin::import
