#include "platform/mail/MailComposeViewController.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Label.h"

namespace mail {

namespace {
std::mutex settingsMutex;
bool canSend = true;
std::string& sender() {
    static std::string s = "Deck User <user@localhost>";
    return s;
}

std::vector<std::string> splitAddresses(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false, escaped = false;
    for (char c : text) {
        // Inside quotes a backslash takes the next character as it is (a
        // quote or a backslash in a display name).
        if (escaped) escaped = false;
        else if (quoted && c == '\\') escaped = true;
        else if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    std::vector<std::string> trimmed;
    for (auto& a : out) {
        size_t b = a.find_first_not_of(" \t"), e = a.find_last_not_of(" \t");
        if (b != std::string::npos) trimmed.push_back(a.substr(b, e - b + 1));
    }
    return trimmed;
}

std::string joinAddresses(const std::vector<std::string>& v) {
    std::string out;
    for (auto& a : v) out += (out.empty() ? "" : ", ") + a;
    return out;
}
}  // namespace

// The composer's page: header fields and the body.
class MailComposeViewController::Content : public ui::ViewController {
public:
    void setOwner(MailComposeViewController* owner) { owner_ = owner; }
    const char* className() const override { return "MailComposeContent"; }

    ns::Ref<ui::TextField> to, cc, subject;
    ns::Ref<ui::Label> attachments;
    ns::Ref<ui::WebView> html;
    ns::Ref<ui::Label> text;

    void loadView() override {
        ui::ViewController::loadView();
        ui::View* v = view();
        double w = v->bounds().width();
        auto field = [&](const char* name, double y) {
            auto f = ui::TextField::make(ui::makeRect(0, y, w, 30));
            f->setPlaceholder(name);
            f->setAccessibilityLabel(name);
            f->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
            v->addSubview(f);
            return f;
        };
        to = field("To", 0);
        cc = field("Cc", 30);
        to->addTarget(this, &Content::recipientsEdited, ui::ControlEventEditingChanged);
        cc->addTarget(this, &Content::recipientsEdited, ui::ControlEventEditingChanged);
        subject = field("Subject", 60);
        attachments = ui::Label::make(ui::makeRect(0, 90, w, 20));
        v->addSubview(attachments);
        html = ui::WebView::make(ui::makeRect(0, 110, w, v->bounds().height() - 110));
        html->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
        v->addSubview(html);
        text = ui::Label::make(ui::makeRect(0, 110, w, v->bounds().height() - 110));
        text->setNumberOfLines(0);
        text->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
        v->addSubview(text);
    }
    void viewDidLoad() override {
        cancelItem = ui::BarButtonItem::withTitle("Cancel", ui::BarButtonItem::Style::Bordered, this, &Content::clicCancel);
        sendItem = ui::BarButtonItem::withTitle("Send", ui::BarButtonItem::Style::Done, this, &Content::clicSend);
        navigationItem()->setLeftBarButtonItem(cancelItem);
        navigationItem()->setRightBarButtonItem(sendItem);
        refresh();
    }
    // Send is on while the message has a recipient and the composer has not
    // finished; Cancel while it has not finished.
    void updateButtons() {
        auto o = owner_.lock();
        if (!o || !sendItem) return;
        sendItem->setEnabled(!o->finished_ && o->hasRecipient());
        cancelItem->setEnabled(!o->finished_);
    }
    // Typing in To or Cc: the buttons are brought up to date once the
    // keystrokes of this turn of the run loop are in, so a long text costs
    // one look at the addresses, not one a key.
    void recipientsEdited(ns::Object*) {
        if (updatePending_) return;
        updatePending_ = true;
        ns::Weak<Content> weak(this);
        ns::RunLoop::main()->performDeferred([weak] {
            if (auto self = weak.lock()) {
                self->updatePending_ = false;
                self->updateButtons();
            }
        });
    }
    void refresh() {
        if (!isViewLoaded()) return;
        auto* o = owner_.lock().get();
        if (!o) return;
        const MailMessage& m = o->draft_;
        to->setText(joinAddresses(m.to));
        cc->setText(joinAddresses(m.cc));
        subject->setText(m.subject);
        setTitle(m.subject.empty() ? "New Message" : m.subject);
        std::string names;
        for (auto& a : m.attachments) names += (names.empty() ? "Attached: " : ", ") + a.fileName;
        attachments->setText(names);
        html->setHidden(!m.isHTML);
        text->setHidden(m.isHTML);
        if (m.isHTML) html->loadHTMLString(m.body, nullptr);
        else text->setText(m.body);
        updateButtons();
    }
    void clicCancel(ns::Object*) {
        if (auto o = owner_.lock(); o && !o->finished_) o->cancel();
    }
    // The Send button refuses a message without a recipient (it is shown
    // disabled then), so nothing is sent to nobody or dropped.
    void clicSend(ns::Object*) {
        auto o = owner_.lock();
        if (!o || o->finished_) return;
        if (!o->hasRecipient()) {
            updateButtons();
            return;
        }
        o->send();
    }

    ns::Ref<ui::BarButtonItem> cancelItem, sendItem;

private:
    ns::Weak<MailComposeViewController> owner_;
    bool updatePending_ = false;
};

MailComposeViewController::MailComposeViewController() : ui::NavigationController(ns::make<Content>()) {
    content_ = ns::Ref<Content>(static_cast<Content*>(topViewController()));
    content_->setOwner(this);
    draft_.from = senderAddress();
}

bool MailComposeViewController::canSendMail() {
    std::lock_guard<std::mutex> g(settingsMutex);
    return canSend;
}
void MailComposeViewController::setCanSendMail(bool b) {
    std::lock_guard<std::mutex> g(settingsMutex);
    canSend = b;
}
void MailComposeViewController::setSenderAddress(std::string from) {
    std::lock_guard<std::mutex> g(settingsMutex);
    sender() = std::move(from);
}
std::string MailComposeViewController::senderAddress() {
    std::lock_guard<std::mutex> g(settingsMutex);
    return sender();
}
std::string MailComposeViewController::outboxDirectory() { return ns::Paths::join(ns::Paths::homeDirectory(), "Outbox"); }

void MailComposeViewController::setSubject(std::string s) {
    draft_.subject = std::move(s);
    content_->refresh();
}
void MailComposeViewController::setToRecipients(std::vector<std::string> to) {
    draft_.to = std::move(to);
    content_->refresh();
}
void MailComposeViewController::setCcRecipients(std::vector<std::string> cc) {
    draft_.cc = std::move(cc);
    content_->refresh();
}
void MailComposeViewController::setBccRecipients(std::vector<std::string> bcc) { draft_.bcc = std::move(bcc); }
void MailComposeViewController::setMessageBody(std::string body, bool isHTML) {
    draft_.body = std::move(body);
    draft_.isHTML = isHTML;
    content_->refresh();
}
void MailComposeViewController::addAttachmentData(ns::Ref<ns::Data> data, std::string mimeType, std::string fileName) {
    draft_.attachments.push_back({std::move(data), std::move(mimeType), std::move(fileName)});
    content_->refresh();
}

MailMessage MailComposeViewController::message() const {
    MailMessage m = draft_;
    if (content_->isViewLoaded()) {
        m.to = splitAddresses(content_->to->text());
        m.cc = splitAddresses(content_->cc->text());
        m.subject = content_->subject->text();
    }
    return m;
}

bool MailComposeViewController::hasRecipient() const {
    MailMessage m = message();
    return !m.to.empty() || !m.cc.empty() || !m.bcc.empty();
}

bool MailComposeViewController::isSendEnabled() const { return content_->sendItem && content_->sendItem->isEnabled(); }

void MailComposeViewController::finish(MailComposeResult r, ns::Error* e) {
    auto keep = ns::keepAlive(this);
    // Once sent, saved or cancelled the composer's buttons do nothing more:
    // one Send writes one message, even while the screen is still up.
    if (r != MailComposeResult::Failed) {
        finished_ = true;
        content_->updateButtons();
    }
    if (auto d = delegate_.lock()) d->mailComposeControllerDidFinishWithResult(this, r, e);
    // No delegate is left to close the screen (it was let go, or none was
    // set): the composer closes itself rather than stay up with its buttons
    // off. A failure keeps it up, with its alert, as always.
    else if (r != MailComposeResult::Failed) dismissViewControllerAnimated(true);
}

std::string MailComposeViewController::write(const std::string& folder, MailComposeResult ok, long failCode) {
    ns::Ref<ns::Error> err;
    MailMessage m = message();
    auto text = m.render(&err);
    std::string path;
    // What the user is told when the message cannot be written.
    std::string why = err ? err->localizedDescription() : std::string();
    if (text) {
        if (!ns::Paths::ensureDirectory(folder, 0700)) {
            int code = errno;
            err = ns::Error::withDescription(kMailComposeErrorDomain, failCode, "cannot create the folder " + folder);
            why = std::string("The message could not be saved: ") + std::strerror(code) + ".";
        } else {
            static std::atomic<unsigned> serial{0};
            auto now = std::chrono::system_clock::now().time_since_epoch();
            long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
            std::random_device rd;
            char name[96];
            std::snprintf(name, sizeof name, "%lld-%u-%08x.eml", ms, serial.fetch_add(1), unsigned(rd()));
            path = ns::Paths::join(folder, name);
            if (!ns::writeFileAtomically(path, *text, &err, 0600)) {
                path.clear();
                why = std::string("The message could not be saved: ") +
                      std::strerror(err && err->domain() == ns::kFileErrorDomain ? int(err->code()) : EIO) + ".";
            }
        }
    }
    if (path.empty()) {
        if (why.empty()) why = "The message could not be saved.";
        auto info = err ? ns::Dictionary::make({{ns::kLocalizedDescriptionKey, ns::str(why)}, {ns::kUnderlyingErrorKey, err}})
                        : ns::Dictionary::make({{ns::kLocalizedDescriptionKey, ns::str(why)}});
        auto failure = ns::Error::make(kMailComposeErrorDomain, failCode, info);
        // The composer stays on screen with what was typed, so the user can
        // correct the address, try again or cancel; the alert says why.
        ui::AlertView::make(failCode == kMailComposeErrorSaveFailed ? "Cannot Save Draft" : "Cannot Send Mail", why,
                            nullptr, "OK")
            ->show();
        finish(MailComposeResult::Failed, failure.get());
        return {};
    }
    lastPath_ = path;
    finish(ok, nullptr);
    return path;
}

std::string MailComposeViewController::send() {
    return write(outboxDirectory(), MailComposeResult::Sent, kMailComposeErrorSendFailed);
}

std::string MailComposeViewController::saveDraft() {
    return write(ns::Paths::join(outboxDirectory(), "Drafts"), MailComposeResult::Saved, kMailComposeErrorSaveFailed);
}

void MailComposeViewController::cancel() { finish(MailComposeResult::Cancelled, nullptr); }

}  // namespace mail
