// The fault plan of the tool's test build: read from TVK_FAULT_PLAN
// before main runs; the sites called are written, one per line, to the
// file named by TVK_FAULT_TRACE when the process exits normally.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "NptPlatformFaultPlan.h"

namespace {

std::string g_TracePath;

void
WriteTrace()
{
    std::FILE* out = std::fopen(g_TracePath.c_str(), "w");
    if (out == nullptr) return;
    for (const std::string& site : NPT_PlatformFaultTrace()) std::fprintf(out, "%s\n", site.c_str());
    std::fclose(out);
}

struct PlanFromEnvironment {
    PlanFromEnvironment() {
        NPT_PlatformFaultPlan plan;
        if (!NPT_PlatformFaultParsePlan(std::getenv("TVK_FAULT_PLAN"), plan)) {
            std::fputs("tvkcrypt_faults: bad TVK_FAULT_PLAN\n", stderr);
            std::exit(125);
        }
        NPT_PlatformFaultSetPlan(plan);
        if (const char* path = std::getenv("TVK_FAULT_TRACE")) {
            g_TracePath = path;
            std::atexit(WriteTrace);
        }
    }
} g_Plan;

}  // namespace
