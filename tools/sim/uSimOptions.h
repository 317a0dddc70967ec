#pragma once
// The command line of egaiss-sim.
#include "uSimFaults.h"
#include "uSimScale.h"
#include "uSimServer.h"
#include "uSimUtm.h"

#include <string>
#include <vector>

namespace egaiss::sim {

enum class TSimMode { smHelp, smUtm, smServer, smBoth, smScale };

struct TSimOptions {
    TSimMode Mode = TSimMode::smHelp;
    int Port = 0;           // the UTM's in both mode
    int ServerPort = 0;     // both mode only
    TFaultSettings Faults;  // applied to every simulator the process runs
    TUtmSettings Utm;
    TServerSettings Server;
    TScaleSettings Scale;
};

// Parses the arguments after the program name; false with `error` for a usage error.
bool ParseSimOptions(const std::vector<std::string>& args, TSimOptions& options, std::string& error);

std::string SimUsage();

}  // namespace egaiss::sim
