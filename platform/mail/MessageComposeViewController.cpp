#include "platform/mail/MessageComposeViewController.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/Label.h"

namespace mail {

namespace {
std::mutex settingMutex;
bool canText = true;

bool hasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}
}  // namespace

// The composer's page: the recipients and the message.
class MessageComposeViewController::Content : public ui::ViewController {
public:
    void setOwner(MessageComposeViewController* o) { owner_ = o; }
    ns::Ref<ui::Label> to, text;
    void loadView() override {
        ui::ViewController::loadView();
        double w = view()->bounds().width();
        to = ui::Label::make(ui::makeRect(0, 0, w, 30));
        text = ui::Label::make(ui::makeRect(0, 30, w, 200));
        text->setNumberOfLines(0);
        view()->addSubview(to);
        view()->addSubview(text);
    }
    void viewDidLoad() override {
        setTitle("New Message");
        navigationItem()->setLeftBarButtonItem(
            ui::BarButtonItem::withTitle("Cancel", ui::BarButtonItem::Style::Bordered, this, &Content::clicCancel));
        navigationItem()->setRightBarButtonItem(
            ui::BarButtonItem::withTitle("Send", ui::BarButtonItem::Style::Done, this, &Content::clicSend));
        refresh();
    }
    void refresh() {
        auto o = owner_.lock();
        if (!o || !isViewLoaded()) return;
        std::string list;
        for (auto& r : o->recipients_) list += (list.empty() ? "" : ", ") + r;
        to->setText("To: " + list);
        text->setText(o->body_);
    }
    void clicCancel(ns::Object*) {
        if (auto o = owner_.lock()) o->cancel();
    }
    void clicSend(ns::Object*) {
        if (auto o = owner_.lock()) o->send();
    }

private:
    ns::Weak<MessageComposeViewController> owner_;
};

MessageComposeViewController::MessageComposeViewController() : ui::NavigationController(ns::make<Content>()) {
    content_ = ns::Ref<Content>(static_cast<Content*>(topViewController()));
    content_->setOwner(this);
}

bool MessageComposeViewController::canSendText() {
    std::lock_guard<std::mutex> g(settingMutex);
    return canText;
}
void MessageComposeViewController::setCanSendText(bool b) {
    std::lock_guard<std::mutex> g(settingMutex);
    canText = b;
}

void MessageComposeViewController::setRecipients(std::vector<std::string> r) {
    recipients_ = std::move(r);
    content_->refresh();
}
void MessageComposeViewController::setBody(std::string b) {
    body_ = std::move(b);
    content_->refresh();
}

void MessageComposeViewController::finish(MessageComposeResult r) {
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock()) d->messageComposeViewControllerDidFinishWithResult(this, r);
    // No delegate is left to close the screen: the composer closes itself
    // after Send or Cancel rather than stay up (a failure keeps it up).
    else if (r != MessageComposeResult::Failed) dismissViewControllerAnimated(true);
}

std::string MessageComposeViewController::send() {
    bool ok = !recipients_.empty();
    std::string text = "To: ";
    for (size_t i = 0; i < recipients_.size(); ++i) {
        if (recipients_[i].empty() || hasControl(recipients_[i])) ok = false;
        text += (i ? ", " : "") + recipients_[i];
    }
    text += "\r\n\r\n";
    for (size_t i = 0; i < body_.size(); ++i) {
        if (body_[i] == '\r' && i + 1 < body_.size() && body_[i + 1] == '\n') continue;
        if (body_[i] == '\n' || body_[i] == '\r') text += "\r\n";
        else text += body_[i];
    }
    std::string folder = ns::Paths::join(ns::Paths::join(ns::Paths::homeDirectory(), "Outbox"), "Messages");
    std::string path;
    if (ok && ns::Paths::ensureDirectory(folder, 0700)) {
        static std::atomic<unsigned> serial{0};
        long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
        std::random_device rd;
        char name[96];
        std::snprintf(name, sizeof name, "%lld-%u-%08x.txt", ms, serial.fetch_add(1), unsigned(rd()));
        path = ns::Paths::join(folder, name);
        if (!ns::writeFileAtomically(path, text, nullptr, 0600)) path.clear();
    }
    finish(path.empty() ? MessageComposeResult::Failed : MessageComposeResult::Sent);
    return path;
}

void MessageComposeViewController::cancel() { finish(MessageComposeResult::Cancelled); }

}  // namespace mail
