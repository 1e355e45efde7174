#pragma once

namespace update {

struct CheckResult;

// Shows the outcome of a check to the user. The client calls it for every check the user asked for,
// and for automatic checks only when a newer version is available.
class UpdatePresenter {
public:
    virtual ~UpdatePresenter() = default;
    virtual void present(const CheckResult& result) = 0;
};

} // namespace update
