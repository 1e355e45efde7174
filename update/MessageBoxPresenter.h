#pragma once

#include "update/UpdatePresenter.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>

namespace update {

// The default presenter: a non-blocking, application-modal message box per outcome, plain text only.
// A newer version gets a "Download" button (only when the feed gave a web link) and "Close"; the other
// outcomes get "OK". A new outcome replaces a box that is still open.
class MessageBoxPresenter final : public UpdatePresenter {
public:
    ~MessageBoxPresenter() override;
    void present(const CheckResult& result) override;

    // The box on screen, or null.
    QMessageBox* dialog() const { return m_box; }

    // The text shown for an outcome.
    static QString textFor(const CheckResult& result);

private:
    QPointer<QMessageBox> m_box;
};

} // namespace update
