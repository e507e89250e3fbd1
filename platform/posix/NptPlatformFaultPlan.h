/*****************************************************************
| NptPlatformFaultPlan.h - how tests steer the fault switch of
| NptPlatformFault.h. Exists only in builds with TVK_FAULT_INJECTION.
|
| A plan is a list of faults. Each names one call, by its index among
| all calls through the switch since the plan was set (from 0) or by its
| site (then the site's first call), and what happens to it. Setting a
| plan restarts the count and the trace, the list of the sites called,
| in order.
|
| The text form, used by the tool's test build through an environment
| variable: faults separated by commas, each "INDEX:KIND[:ERRNO]" or
| "SITE:KIND[:ERRNO]" with KIND one of fail (ERRNO, default EIO), short,
| eintr, stop. An empty text is the empty plan.
****************************************************************/
#ifndef NPT_PLATFORM_FAULT_PLAN_H
#define NPT_PLATFORM_FAULT_PLAN_H

#include <string>
#include <vector>

#include "NptPlatformFault.h"

struct NPT_PlatformPlannedFault {
    unsigned long         index = 0;
    std::string           site;  // when not empty, used instead of index
    NPT_PlatformFaultKind kind  = NPT_PLATFORM_FAULT_NONE;
    int                   error = EIO;
};

typedef std::vector<NPT_PlatformPlannedFault> NPT_PlatformFaultPlan;

void NPT_PlatformFaultSetPlan(const NPT_PlatformFaultPlan& plan);
std::vector<std::string> NPT_PlatformFaultTrace();
// false when text is not a plan
bool NPT_PlatformFaultParsePlan(const char* text, NPT_PlatformFaultPlan& plan);

#endif // NPT_PLATFORM_FAULT_PLAN_H
