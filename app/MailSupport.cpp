#include "app/MailSupport.h"

#include "app/AppLog.h"
#include "platform/ui/AlertView.h"

namespace app {

// The mail composer of the platform layer is not part of the build yet;
// until it is, the device counts as one that cannot send mail.
void presentMailComposer(ui::ViewController*, const std::string& subject, const std::string&,
                         const std::vector<std::string>& recipients) {
    appLog("Mail \"" + subject + "\" to " + (recipients.empty() ? std::string() : recipients.front()) +
           ": no mail composer on this device");
    ui::AlertView::make("Sending mail", "This device is not setup to send mail.", nullptr, "OK")->show();
}

}  // namespace app
