// A published data file as the import sees it: its date stamp and how it is opened.
#pragma once

#include <string>

namespace yubin::import {

// The date stamp "yyyymmdd" of a chosen data file: the day it was made by the publisher.
std::string DataFileStamp(const std::string& path);

}  // namespace yubin::import
