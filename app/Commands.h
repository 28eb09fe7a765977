// The export and import commands: each hands the work to the settings exchange and prints one
// line with the number of entries.
#pragma once

#include <string>

// Exports the data file `dataFileName` into the exchange file `fileName`.
void DoExport(const std::string& dataFileName, const std::string& fileName);

// Imports the exchange file `fileName` into the data file `dataFileName` of the product
// installed in `installPath`. Stops with code 3 when the exchange file does not exist, and with
// code 5 while the product is running.
void DoImport(const std::string& fileName, const std::string& dataFileName,
              const std::string& installPath);

// Whether the product installed in `installPath` is running.
bool IsProductRunning(const std::string& installPath);
