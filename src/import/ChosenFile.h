// A data file chosen for import, as a value: what the chooser hands back and the import
// session keeps until the engine reads the file.
#pragma once

#include <string>

#include "import/DataFile.h"

namespace yubin::import {

struct ChosenFile {
    std::string path;
    DataKind kind = DataKind::Any;
    std::string stamp;        // the date stamp of its data, "yyyymmdd"
    std::string displayDate;  // the same date as shown, "yyyy年mm月dd日"

    bool empty() const { return path.empty(); }
};

// The chosen-file value of a data file: its stamp read (DataFileStamp) and formatted. Raises as
// DataFile does when the file cannot be read as data of `kind`.
ChosenFile ChosenDataFile(const std::string& path, DataKind kind);

}  // namespace yubin::import
