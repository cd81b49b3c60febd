#include "layout/move_progress.h"

#include <shlguid.h>

#include "resources/resource.h"
#include "win32/wide_text.h"

namespace plx {

MoveProgressDialog::~MoveProgressDialog() {
    if (dialog_) dialog_->StopProgressDialog();
}

void MoveProgressDialog::Begin(ULONGLONG totalBytes) {
    total_ = totalBytes;
    done_ = 0;
    if (dialog_ || totalBytes < kLongMoveBytes) return;
    if (FAILED(CoCreateInstance(CLSID_ProgressDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IProgressDialog,
                                reinterpret_cast<void**>(dialog_.put()))))
        return;
    dialog_->SetTitle(ToWide(kMessageCaption).c_str());
    // The dialog runs on a thread of its own: it repaints and takes the Cancel while this one copies.
    if (FAILED(dialog_->StartProgressDialog(owner_, nullptr, PROGDLG_NORMAL | PROGDLG_AUTOTIME, nullptr))) {
        dialog_.reset();
        return;
    }
    dialog_->SetProgress64(0, total_);
}

void MoveProgressDialog::Item(const std::string& path) {
    if (dialog_) dialog_->SetLine(1, ToWide(path).c_str(), TRUE, nullptr);
}

bool MoveProgressDialog::Advance(ULONGLONG bytes) {
    if (!dialog_) return true;
    done_ += bytes;
    if (bytes) dialog_->SetProgress64(done_, total_);
    return !dialog_->HasUserCancelled();
}

}  // namespace plx
