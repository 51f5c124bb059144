// brackle: removes the newsgroup accounts from every MAPI profile. Takes no
// arguments. A person at a terminal answers its question there; without one
// the question answers itself with No and nothing is removed.
#include <unistd.h>

#include <memory>

#include "brackle/brackle.h"
#include "platform/base/console_presenter.h"
#include "platform/base/msgbox.h"
#include "platform/base/version_info.h"

QUILLORY_VERSION_INFO(BRACKLE_VERSION_MAJOR, BRACKLE_VERSION_MINOR, BRACKLE_VERSION_PATCH, 0,
                      "Tools to remove Tarnel NNTP accounts");

int main()
{
    if (isatty(STDIN_FILENO)) quillory::SetMessageBoxPresenter(std::make_shared<quillory::CConsolePresenter>());
    return quillory::brackle::RunBrackle();
}
