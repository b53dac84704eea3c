#include "import/ChosenFile.h"

#include "import/mdInport.h"

namespace yubin::import {

ChosenFile ChosenDataFile(const std::string& path, DataKind kind) {
    ChosenFile file{path, kind, DataFileStamp(path, kind), {}};
    file.displayDate = mdInport::FormatStamp(file.stamp);
    return file;
}

}  // namespace yubin::import
