#pragma once

#include "platform/compositing/CompositingQuery.h"

namespace pondra {

/// Answers what the test set.
class FakeCompositingQuery final : public CompositingQuery
{
public:
    explicit FakeCompositingQuery(bool compositing = true) : compositing(compositing) {}
    bool isCompositing() const override
    {
        ++queries;
        return compositing;
    }

    bool compositing = true;
    mutable int queries = 0;
};

} // namespace pondra
