/*****************************************************************
| NptPlatformFault.cpp - the fault switch of test builds (compiled with
| TVK_FAULT_INJECTION; empty otherwise). See NptPlatformFault.h and
| NptPlatformFaultPlan.h.
****************************************************************/
#if defined(TVK_FAULT_INJECTION)

#include "NptPlatformFaultPlan.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "NptPlatformFault.h"

namespace {

std::mutex                     g_Lock;
NPT_PlatformFaultPlan          g_Plan;
unsigned long                  g_Calls = 0;
std::vector<std::string>       g_Trace;

} // namespace

NPT_PlatformFaultAction NPT_PlatformFault(const char* site)
{
    NPT_PlatformFaultAction action{NPT_PLATFORM_FAULT_NONE, 0};
    {
        std::lock_guard<std::mutex> lock(g_Lock);
        unsigned long index = g_Calls++;
        g_Trace.push_back(site);
        bool hit = g_Plan.site.empty() ? index == g_Plan.index : g_Plan.site == site;
        if (hit && g_Plan.kind != NPT_PLATFORM_FAULT_NONE) {
            action.kind  = g_Plan.kind;
            action.error = g_Plan.error;
            // a named site is hit once, at its first call
            if (!g_Plan.site.empty()) g_Plan.kind = NPT_PLATFORM_FAULT_NONE;
        }
    }
    if (action.kind == NPT_PLATFORM_FAULT_STOP) {
        std::raise(SIGSTOP);
        action.kind = NPT_PLATFORM_FAULT_NONE;
    }
    return action;
}

void NPT_PlatformFaultSetPlan(const NPT_PlatformFaultPlan& plan)
{
    std::lock_guard<std::mutex> lock(g_Lock);
    g_Plan  = plan;
    g_Calls = 0;
    g_Trace.clear();
}

std::vector<std::string> NPT_PlatformFaultTrace()
{
    std::lock_guard<std::mutex> lock(g_Lock);
    return g_Trace;
}

bool NPT_PlatformFaultParsePlan(const char* text, NPT_PlatformFaultPlan& plan)
{
    plan = NPT_PlatformFaultPlan();
    if (text == nullptr || *text == '\0') return true;
    std::string spec = text;
    std::string::size_type colon = spec.find(':');
    if (colon == std::string::npos) return false;
    std::string where = spec.substr(0, colon);
    std::string rest  = spec.substr(colon + 1);
    std::string kind  = rest.substr(0, rest.find(':'));
    if (where.empty()) return false;
    if (where.find_first_not_of("0123456789") == std::string::npos) {
        plan.index = std::strtoul(where.c_str(), nullptr, 10);
    } else {
        plan.site = where;
    }
    if (kind == "fail") {
        plan.kind  = NPT_PLATFORM_FAULT_FAIL;
        plan.error = EIO;
        std::string::size_type second = rest.find(':');
        if (second != std::string::npos) plan.error = std::atoi(rest.c_str() + second + 1);
    } else if (kind == "short") {
        plan.kind = NPT_PLATFORM_FAULT_SHORT;
    } else if (kind == "eintr") {
        plan.kind = NPT_PLATFORM_FAULT_INTERRUPT;
    } else if (kind == "stop") {
        plan.kind = NPT_PLATFORM_FAULT_STOP;
    } else {
        return false;
    }
    return true;
}

#endif // TVK_FAULT_INJECTION
