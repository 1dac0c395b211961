#include "framework/context.h"

#include <atomic>

namespace {
const Context kDefaults;
std::atomic<const Context*> bound{&kDefaults};
}  // namespace

const Context& CurrentContext() { return *bound.load(); }

ScopedContext::ScopedContext(const Context& context)
    : m_context(context), m_previous(bound.exchange(&m_context)) {}

ScopedContext::~ScopedContext() { bound.store(m_previous); }

