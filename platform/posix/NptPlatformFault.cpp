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

// One state, built at its first use: the plan may be set by a static
// initialiser of another file.
struct FaultState {
    std::mutex               lock;
    NPT_PlatformFaultPlan    plan;
    unsigned long            calls = 0;
    std::vector<std::string> trace;
};

FaultState& State()
{
    static FaultState state;
    return state;
}

} // namespace

NPT_PlatformFaultAction NPT_PlatformFault(const char* site)
{
    NPT_PlatformFaultAction action{NPT_PLATFORM_FAULT_NONE, 0};
    {
        FaultState& state = State();
        std::lock_guard<std::mutex> lock(state.lock);
        unsigned long index = state.calls++;
        state.trace.push_back(site);
        for (NPT_PlatformPlannedFault& fault : state.plan) {
            bool hit = fault.site.empty() ? index == fault.index : fault.site == site;
            if (!hit || fault.kind == NPT_PLATFORM_FAULT_NONE) continue;
            action.kind  = fault.kind;
            action.error = fault.error;
            // a named site is hit once, at its first call
            if (!fault.site.empty()) fault.kind = NPT_PLATFORM_FAULT_NONE;
            break;
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
    FaultState& state = State();
    std::lock_guard<std::mutex> lock(state.lock);
    state.plan  = plan;
    state.calls = 0;
    state.trace.clear();
}

std::vector<std::string> NPT_PlatformFaultTrace()
{
    FaultState& state = State();
    std::lock_guard<std::mutex> lock(state.lock);
    return state.trace;
}

static bool
ParseFault(const std::string& spec, NPT_PlatformPlannedFault& fault)
{
    std::string::size_type colon = spec.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string where = spec.substr(0, colon);
    std::string rest  = spec.substr(colon + 1);
    std::string::size_type second = rest.find(':');
    std::string kind = rest.substr(0, second);
    if (where.find_first_not_of("0123456789") == std::string::npos) {
        fault.index = std::strtoul(where.c_str(), nullptr, 10);
    } else {
        fault.site = where;
    }
    if (kind == "fail") {
        fault.kind  = NPT_PLATFORM_FAULT_FAIL;
        fault.error = second == std::string::npos ? EIO : std::atoi(rest.c_str() + second + 1);
    } else if (kind == "short") {
        fault.kind = NPT_PLATFORM_FAULT_SHORT;
    } else if (kind == "eintr") {
        fault.kind = NPT_PLATFORM_FAULT_INTERRUPT;
    } else if (kind == "stop") {
        fault.kind = NPT_PLATFORM_FAULT_STOP;
    } else {
        return false;
    }
    return true;
}

bool NPT_PlatformFaultParsePlan(const char* text, NPT_PlatformFaultPlan& plan)
{
    plan.clear();
    if (text == nullptr) return true;
    std::string all = text;
    std::string::size_type start = 0;
    while (start < all.size()) {
        std::string::size_type comma = all.find(',', start);
        if (comma == std::string::npos) comma = all.size();
        NPT_PlatformPlannedFault fault;
        if (!ParseFault(all.substr(start, comma - start), fault)) return false;
        plan.push_back(fault);
        start = comma + 1;
    }
    return true;
}

#endif // TVK_FAULT_INJECTION
