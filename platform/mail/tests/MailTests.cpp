#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Paths.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Driver.h"
#include "platform/ui/Window.h"
#include "testsupport/FullDisk.h"
#include "testsupport/TempDir.h"
#include "testsupport/UITest.h"

using testsupport::UITest;

namespace mail {
namespace {

// Reads a file with Python's email package and prints what it found, one
// "key=value" per line (values as Python's repr, so bytes and text are exact).
const char* kPeerScript = R"PY(
import sys, email, hashlib
from email import policy
with open(sys.argv[1], 'rb') as f:
    raw = f.read()
assert b'\r\n' in raw and b'\n' not in raw.replace(b'\r\n', b'')
for line in raw.split(b'\r\n'):
    assert len(line) <= 998
m = email.message_from_bytes(raw, policy=policy.default)
print('subject=' + repr(str(m['subject'])))
print('to=' + repr([a.addr_spec for a in m['to'].addresses]))
print('to_names=' + repr([a.display_name for a in m['to'].addresses]))
print('cc=' + repr([a.addr_spec for a in m['cc'].addresses] if m['cc'] else []))
print('cc_names=' + repr([a.display_name for a in m['cc'].addresses] if m['cc'] else []))
print('from=' + repr([(a.display_name, a.addr_spec) for a in m['from'].addresses]))
print('date=' + m['date'].datetime.isoformat())
print('type=' + m.get_content_type())
print('defects=' + repr([type(d).__name__ for p in m.walk() for d in p.defects]))
for part in m.walk():
    if part.is_multipart():
        continue
    ctype = part.get_content_type()
    if part.get_filename():
        data = part.get_payload(decode=True)
        print('attachment=' + repr(part.get_filename()) + ' ' + ctype + ' ' + hashlib.sha1(data).hexdigest())
    else:
        print(ctype + '=' + repr(part.get_content().replace('\r\n', '\n')))
)PY";

std::string runPeer(const std::string& path) {
    std::string script = path + ".py";
    std::ofstream(script) << kPeerScript;
    // Bounded, so a reader that never ends fails this test and the rest still run.
    std::string cmd = "timeout 60 python3 '" + script + "' '" + path + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

std::string sha1Hex(const std::string& bytes, const std::string& dir) {
    std::string path = dir + "/blob";
    std::ofstream(path, std::ios::binary) << bytes;
    std::string cmd = "timeout 60 python3 -c \"import hashlib,sys;print(hashlib.sha1(open(sys.argv[1],'rb').read()).hexdigest())\" '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    char buf[64] = {0};
    if (p) {
        if (!fgets(buf, sizeof buf, p)) buf[0] = 0;
        pclose(p);
    }
    std::string s(buf);
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

struct Watcher : ns::Object, MailComposeViewControllerDelegate {
    std::vector<MailComposeResult> results;
    ns::Ref<ns::Error> error;
    void mailComposeControllerDidFinishWithResult(MailComposeViewController* c, MailComposeResult r,
                                                  ns::Error* e) override {
        results.push_back(r);
        error = e;
        c->dismissViewControllerAnimated(true);
    }
};

class MailTest : public UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        ns::Paths::setHomeDirectory(home.path());
        MailComposeViewController::setCanSendMail(true);
    }
    testsupport::TempDir home;
};

TEST_F(MailTest, SentMailIsReadBackByPythonsEmailPackage) {
    auto w = makeWindow();
    auto root = ns::make<ui::ViewController>();
    w->setRootViewController(root);
    auto watcher = ns::make<Watcher>();
    auto composer = MailComposeViewController::make();
    composer->setMailComposeDelegate(watcher.get());
    composer->setSubject("Comments about the card \xE2\x80\x9C" "Caf\xC3\xA9 m\xC3\xA1s\xE2\x80\x9D and a rather long tail "
                         "that needs more than one encoded word to carry");
    composer->setToRecipients({"contact@example.com", "Jos\xC3\xA9 P\xC3\xA9rez <jose@example.org>"});
    composer->setCcRecipients({"\"Smith, Ann\" <ann@example.net>"});
    composer->setMessageBody("<p>Hello&nbsp;there,<br>caf\xC3\xA9 line</p>\n.\nFrom here on a very long line that goes "
                             "on and on beyond seventy-six characters so it must be wrapped softly",
                             true);
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR binary \0\xff\xfe data", 32);
    composer->addAttachmentData(ns::Data::make(png), "image/png", "icon.png");
    composer->addAttachmentData(ns::Data::make(std::string("texte accentu\xC3\xA9\n")), "text/plain",
                                "r\xC3\xA9sum\xC3\xA9 card.txt");
    std::string longName;
    for (int i = 0; i < 30; ++i) longName += "\xC3\xA9t\xC3\xA9 ";
    longName += "end.txt";
    composer->addAttachmentData(ns::Data::make(std::string("x")), "text/plain", longName);
    ASSERT_TRUE(root->presentModalViewController(composer, true));

    ui::Driver driver;
    std::string screen = driver.screen();
    EXPECT_NE(screen.find("== [Cancel] | Comments about"), std::string::npos) << screen;
    EXPECT_NE(screen.find("To: contact@example.com, Jos"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Attached: icon.png, r"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Hello there,"), std::string::npos) << screen;

    ASSERT_TRUE(driver.tapBarButton("Send")) << driver.lastError();
    ASSERT_EQ(watcher->results, std::vector<MailComposeResult>{MailComposeResult::Sent});
    EXPECT_EQ(root->presentedViewController(), nullptr);
    std::string path = composer->lastWrittenPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(std::filesystem::path(path).parent_path().string(), home.path() + "/Outbox");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    std::string out = runPeer(path);
    EXPECT_NE(out.find("subject='Comments about the card \xE2\x80\x9C" "Caf\xC3\xA9 m\xC3\xA1s\xE2\x80\x9D and a rather long "
                       "tail that needs more than one encoded word to carry'"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("to=['contact@example.com', 'jose@example.org']"), std::string::npos) << out;
    EXPECT_NE(out.find("to_names=['', 'Jos\xC3\xA9 P\xC3\xA9rez']"), std::string::npos) << out;
    EXPECT_NE(out.find("cc=['ann@example.net']"), std::string::npos) << out;
    EXPECT_NE(out.find("type=multipart/mixed"), std::string::npos) << out;
    EXPECT_NE(out.find("defects=[]"), std::string::npos) << out;
    EXPECT_NE(out.find("text/plain='Hello there,\\ncaf\xC3\xA9 line\\n.\\nFrom here on a very long line"), std::string::npos)
        << out;
    EXPECT_NE(out.find("text/html='<p>Hello&nbsp;there,<br>caf\xC3\xA9 line</p>\\n.\\nFrom here on a very long line "
                       "that goes on and on beyond seventy-six characters so it must be wrapped softly"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("attachment='icon.png' image/png " + sha1Hex(png, home.path())), std::string::npos) << out;
    EXPECT_NE(out.find("attachment='r\xC3\xA9sum\xC3\xA9 card.txt' text/plain"), std::string::npos) << out;
    EXPECT_NE(out.find("attachment='" + longName + "' text/plain"), std::string::npos) << out;
}

TEST_F(MailTest, PlainAsciiMailIsOnePart) {
    auto composer = MailComposeViewController::make();
    composer->setSubject("Hi");
    composer->setToRecipients({"a@example.com"});
    composer->setMessageBody("Short plain text.", false);
    std::string path = composer->send();
    ASSERT_FALSE(path.empty());
    auto text = ns::readFile(path);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\nShort plain text.\r\n"),
              std::string::npos);
    EXPECT_EQ(text->find("multipart"), std::string::npos);
    std::string out = runPeer(path);
    EXPECT_NE(out.find("text/plain='Short plain text.\\n'"), std::string::npos) << out;
}

// Every text the writer escapes (header words, display names, file names,
// the body) with the characters that mean something there, read back by an
// independent reader exactly as they were given. The sender comes from the
// stored setting and the recipients back out of the composer's fields, as
// on a real send.
TEST_F(MailTest, ReservedCharactersAreReadBackAsTheyWereGiven) {
    struct Row {
        const char* name;
        std::string sender;                // stored setting, "Name <addr>"
        std::vector<std::string> to;       // set in code, read back from the field
        std::string subject, fileName, body;
        std::vector<std::string> expect;   // lines of the reader's output
    } rows[] = {
        {"an encoded word's look everywhere", "=?utf-8?B?SGk=?= <me@example.com>",
         {"=?utf-8?B?SGk=?= <a@example.org>"}, "=?utf-8?B?SGk=?=", "=?utf-8?B?SGk=?=.txt", "=?utf-8?B?SGk=?=",
         {"subject='=?utf-8?B?SGk=?='", "from=[('=?utf-8?B?SGk=?=', 'me@example.com')]",
          "to_names=['=?utf-8?B?SGk=?=']", "attachment='=?utf-8?B?SGk=?=.txt' text/plain",
          "text/plain='=?utf-8?B?SGk=?='"}},
        {"quotes, backslashes and commas in names", "\"O'Neil \\\"Deck\\\" (cards)\" <me@example.com>",
         {"\"Say \\\"hi, you\\\"\" <a@example.org>", "\"Back\\\\slash, B.\" <b@example.org>"}, "a \"b\" \\ c; d: <e>",
         "a \"b\"; c\\d.txt", "x",
         {"subject='a \"b\" \\\\ c; d: <e>'", "from=[('O\\'Neil \"Deck\" (cards)', 'me@example.com')]",
          "to=['a@example.org', 'b@example.org']", "to_names=['Say \"hi, you\"', 'Back\\\\slash, B.']",
          "attachment='a \"b\"; c\\\\d.txt' text/plain"}},
        {"specials in names", "<me> <me@example.com>", {"a@b.c <a@example.org>", "x;y:z <b@example.org>"},
         "100% = 1/1 ? yes", "100% & 50%.txt", "a\n.\nFrom x\n" + std::string(75, 'a') + ".\n" + std::string(75, 'a') + "From y\n\xC3\xA9",
         {"subject='100% = 1/1 ? yes'", "from=[('<me>', 'me@example.com')]", "to_names=['a@b.c', 'x;y:z']",
          "attachment='100% & 50%.txt' text/plain",
          "text/plain='a\\n.\\nFrom x\\n" + std::string(75, 'a') + ".\\n" + std::string(75, 'a') + "From y\\n\xC3\xA9'",
          "defects=[]"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MailComposeViewController::setSenderAddress(row.sender);
        auto composer = MailComposeViewController::make();
        composer->view();  // the fields hold the recipients now
        composer->setToRecipients(row.to);
        composer->setSubject(row.subject);
        composer->setMessageBody(row.body, false);
        composer->addAttachmentData(ns::Data::make(std::string("x")), "text/plain", row.fileName);
        EXPECT_EQ(composer->message().to, row.to);
        std::string path = composer->send();
        ASSERT_FALSE(path.empty());
        std::string out = runPeer(path);
        for (const std::string& line : row.expect) EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
    MailComposeViewController::setSenderAddress("Deck User <user@localhost>");
    // The date the writer was given is the one read back.
    MailMessage m;
    m.to = {"a@example.org"};
    m.date = 253402300799;
    auto text = m.render();
    ASSERT_TRUE(text);
    std::ofstream(home.path() + "/dated.eml", std::ios::binary) << *text;
    std::string out = runPeer(home.path() + "/dated.eml");
    EXPECT_NE(out.find("date=9999-12-31T23:59:59+00:00"), std::string::npos) << out;
}

TEST_F(MailTest, HeaderInjectionAndMissingRecipientsFailWithoutWriting) {
    auto watcher = ns::make<Watcher>();
    auto composer = MailComposeViewController::make();
    composer->setMailComposeDelegate(watcher.get());
    composer->setToRecipients({"victim@example.com\r\nBcc: everyone@example.com"});
    composer->setMessageBody("x", false);
    EXPECT_EQ(composer->send(), "");
    ASSERT_EQ(watcher->results, std::vector<MailComposeResult>{MailComposeResult::Failed});
    ASSERT_TRUE(watcher->error);
    EXPECT_EQ(watcher->error->domain(), kMailComposeErrorDomain);
    EXPECT_EQ(watcher->error->code(), kMailComposeErrorSendFailed);

    composer->setToRecipients({});
    EXPECT_EQ(composer->send(), "");
    composer->setToRecipients({"ok@example.com"});
    composer->addAttachmentData(ns::Data::make(std::string("x")), "text/plain", "../../etc/passwd");
    EXPECT_EQ(composer->send(), "");
    auto bad = MailComposeViewController::make();
    bad->setToRecipients({"ok@example.com"});
    bad->addAttachmentData(ns::Data::make(std::string("x")), "text/plain\r\nX-Evil: 1", "a.txt");
    EXPECT_EQ(bad->send(), "");
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/Outbox") &&
                 !std::filesystem::is_empty(home.path() + "/Outbox"));
    // The reason reaches the delegate (and the alert) in words.
    auto large = MailComposeViewController::make();
    large->setMailComposeDelegate(watcher.get());
    large->setToRecipients({"ok@example.com"});
    large->addAttachmentData(ns::Data::make(std::string(kMaxAttachmentBytes + 1, 'x')), "text/plain", "big.txt");
    EXPECT_EQ(large->send(), "");
    ASSERT_TRUE(watcher->error);
    EXPECT_EQ(watcher->error->localizedDescription(), "The attachments are too large.");
}

TEST_F(MailTest, CancelAndDraftAndTheAccountSetting) {
    auto watcher = ns::make<Watcher>();
    auto composer = MailComposeViewController::make();
    composer->setMailComposeDelegate(watcher.get());
    composer->setToRecipients({"a@example.com"});
    composer->cancel();
    std::string draft = composer->saveDraft();
    EXPECT_EQ(watcher->results, (std::vector<MailComposeResult>{MailComposeResult::Cancelled, MailComposeResult::Saved}));
    EXPECT_NE(draft.find("/Outbox/Drafts/"), std::string::npos);
    EXPECT_TRUE(MailComposeViewController::canSendMail());
    MailComposeViewController::setCanSendMail(false);
    EXPECT_FALSE(MailComposeViewController::canSendMail());
    MailComposeViewController::setCanSendMail(true);
}

// A delegate that only listens: the composer stays up after it finished.
struct Listener : ns::Object, MailComposeViewControllerDelegate {
    std::vector<MailComposeResult> results;
    void mailComposeControllerDidFinishWithResult(MailComposeViewController*, MailComposeResult r, ns::Error*) override {
        results.push_back(r);
    }
};

TEST_F(MailTest, SendWaitsForARecipientAndOneTapWritesOneMessage) {
    auto w = makeWindow();
    w->setRootViewController(ns::make<ui::ViewController>());
    auto listener = ns::make<Listener>();
    auto composer = MailComposeViewController::make();
    composer->setMailComposeDelegate(listener.get());
    composer->setSubject("A card");
    composer->setMessageBody("<b>card</b>", true);
    ASSERT_TRUE(w->rootViewController()->presentViewController(composer, false));
    ui::Driver d;
    d.settle();
    // No recipient: Send is shown disabled and refuses.
    EXPECT_NE(d.screen().find("== [Cancel] | A card | [Send] (disabled) =="), std::string::npos) << d.screen();
    EXPECT_FALSE(d.tapBarButton("Send"));
    EXPECT_EQ(d.lastError(), "bar button \"Send\" is disabled");
    EXPECT_TRUE(listener->results.empty());
    // Blanks and commas are no address; a typed one is.
    ASSERT_TRUE(d.typeText("Cc", " , "));
    EXPECT_FALSE(composer->isSendEnabled());
    ASSERT_TRUE(d.typeText("To", "friend@example.org"));
    EXPECT_TRUE(composer->isSendEnabled());
    ASSERT_TRUE(d.clearText("To"));
    EXPECT_FALSE(composer->isSendEnabled());
    // Keystrokes of one turn of the loop are looked at together, after it.
    auto* to = dynamic_cast<ui::TextField*>(d.findTextInput("To"));
    ASSERT_TRUE(to);
    ASSERT_TRUE(to->insertText("x@example.org"));
    EXPECT_FALSE(composer->isSendEnabled());
    d.settle();
    EXPECT_TRUE(composer->isSendEnabled());
    ASSERT_TRUE(d.clearText("To"));
    ASSERT_TRUE(d.typeText("To", "friend@example.org"));
    ASSERT_TRUE(d.tapBarButton("Send")) << d.lastError();
    EXPECT_EQ(listener->results, std::vector<MailComposeResult>{MailComposeResult::Sent});
    // Still up (the delegate did not dismiss it), but done: no second message.
    EXPECT_FALSE(d.tapBarButton("Send"));
    EXPECT_FALSE(d.tapBarButton("Cancel"));
    EXPECT_EQ(listener->results.size(), 1u);
    size_t written = 0;
    for (auto& e : std::filesystem::directory_iterator(MailComposeViewController::outboxDirectory()))
        written += e.is_regular_file();
    EXPECT_EQ(written, 1u);
    // A Bcc set in code is a recipient too.
    auto hidden = MailComposeViewController::make();
    hidden->view();
    EXPECT_FALSE(hidden->isSendEnabled());
    hidden->setBccRecipients({"b@example.org"});
    EXPECT_TRUE(hidden->hasRecipient());
}

// Mail the composer cannot write is never dropped: it says why in an alert,
// tells the delegate Failed and stays with what was typed, so the user can
// correct it and send, or cancel.
TEST_F(MailTest, RefusedAddressesAndAnUnwritableOutboxKeepTheComposerWithAnAlert) {
    auto w = makeWindow();
    w->setRootViewController(ns::make<ui::ViewController>());
    std::string outbox = MailComposeViewController::outboxDirectory();
    testsupport::FullDisk disk(outbox);
    auto alerts = [] {
        std::vector<std::string> out;
        for (auto& p : ui::Panel::visiblePanels())
            if (auto* a = ns::as<ui::AlertView>(p.get())) out.push_back(a->title() + "|" + a->message());
        return out;
    };
    struct Case {
        const char* what;
        std::string to;
        std::function<bool()> arrange;  // false: cannot be arranged here
        std::string alert;              // the alert's message starts so
    };
    std::vector<Case> cases = {
        {"non-ASCII address", "j\xC3\xB6" "e@ex\xC3\xA4" "mple.com", [] { return true; },
         "Cannot Send Mail|The address \u201Cj\xC3\xB6" "e@ex\xC3\xA4" "mple.com\u201D cannot be used"},
        {"not an address", "friend at example.org", [] { return true; },
         "Cannot Send Mail|\u201C" "friend at example.org\u201D is not a valid e-mail address."},
        // A name outside ASCII is fine; what is wrong here is the address.
        {"name outside ASCII, bad address", "J\xC3\xB6 <friend at example.org>", [] { return true; },
         "Cannot Send Mail|\u201CJ\xC3\xB6 <friend at example.org>\u201D is not a valid e-mail address."},
        {"full outbox", "friend@example.org", [&] { disk.fill(); return true; },
         std::string("Cannot Send Mail|The message could not be saved: ") +
             (disk.isTmpfs() ? "No space left on device" : "File too large")},
        {"read-only outbox", "friend@example.org", [&] { return disk.makeReadOnly(); },
         std::string("Cannot Send Mail|The message could not be saved: ") +
             (disk.isTmpfs() ? "Read-only file system" : "Permission denied")},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " against " + disk.how());
        ui::Panel::resetShown();
        disk.restore();
        auto listener = ns::make<Listener>();
        auto composer = MailComposeViewController::make();
        composer->setMailComposeDelegate(listener.get());
        composer->setSubject("A card");
        composer->setMessageBody("card", false);
        ASSERT_TRUE(w->rootViewController()->presentViewController(composer, false));
        ui::Driver d;
        d.settle();
        ASSERT_TRUE(d.typeText("To", c.to));
        if (!c.arrange()) {
            std::printf("skipped: %s cannot be arranged here\n", c.what);
            w->rootViewController()->dismissViewControllerAnimated(false);
            continue;
        }
        ASSERT_TRUE(d.tapBarButton("Send")) << d.lastError();
        EXPECT_EQ(listener->results, std::vector<MailComposeResult>{MailComposeResult::Failed});
        auto shown = alerts();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].rfind(c.alert, 0), 0u) << shown[0];
        // Still on screen, as typed, and ready for another try.
        EXPECT_EQ(w->rootViewController()->presentedViewController(), composer.get());
        EXPECT_EQ(composer->message().to, std::vector<std::string>{c.to});
        EXPECT_TRUE(composer->isSendEnabled());
        ASSERT_TRUE(d.pressAlertButton("OK"));
        // Corrected (or with room again), the same composer sends.
        disk.restore();
        ASSERT_TRUE(d.clearText("To"));
        ASSERT_TRUE(d.typeText("To", "friend@example.org"));
        ASSERT_TRUE(d.tapBarButton("Send")) << d.lastError();
        EXPECT_EQ(listener->results,
                  (std::vector<MailComposeResult>{MailComposeResult::Failed, MailComposeResult::Sent}));
        EXPECT_FALSE(composer->lastWrittenPath().empty());
        EXPECT_TRUE(std::filesystem::exists(composer->lastWrittenPath()));
        w->rootViewController()->dismissViewControllerAnimated(false);
        d.settle();
    }
}

TEST(MailEncoding, RenderRefusesWhatWouldBreakAHeaderAndKeepsToItsLimits) {
    auto local = [](size_t n) { return std::string(n - 12, 'a') + "@example.com"; };  // n characters in all
    struct Case {
        const char* name;
        std::function<void(MailMessage&)> change;
        long error;  // 0: rendered
    } cases[] = {
        {"address of 254", [&](MailMessage& m) { m.to = {local(254)}; }, 0},
        {"address of 255", [&](MailMessage& m) { m.to = {local(255)}; }, kMailErrorBadAddress},
        {"line break in a name", [](MailMessage& m) { m.to = {"Ann\r\nBcc: x@example.com <a@example.com>"}; },
         kMailErrorBadAddress},
        {"line break in the sender", [](MailMessage& m) { m.from = "Me\n <me@example.com>"; }, kMailErrorBadAddress},
        {"line break in a file name", [](MailMessage& m) { m.attachments[0].fileName = "a\r\nX-Evil: 1.txt"; },
         kMailErrorBadFileName},
        {"type of 127", [](MailMessage& m) { m.attachments[0].mimeType = "text/" + std::string(122, 'p'); }, 0},
        {"type of 128", [](MailMessage& m) { m.attachments[0].mimeType = "text/" + std::string(123, 'p'); },
         kMailErrorBadType},
        {"type without a slash", [](MailMessage& m) { m.attachments[0].mimeType = "text"; }, kMailErrorBadType},
        {"type without its type", [](MailMessage& m) { m.attachments[0].mimeType = "/plain"; }, kMailErrorBadType},
        {"type without its subtype", [](MailMessage& m) { m.attachments[0].mimeType = "text/"; }, kMailErrorBadType},
        {"type with two slashes", [](MailMessage& m) { m.attachments[0].mimeType = "text/plain/x"; }, kMailErrorBadType},
        {"type with a blank", [](MailMessage& m) { m.attachments[0].mimeType = "text/pl ain"; }, kMailErrorBadType},
        {"type with a parameter", [](MailMessage& m) { m.attachments[0].mimeType = "text/plain;x=1"; },
         kMailErrorBadType},
        {"type outside ASCII", [](MailMessage& m) { m.attachments[0].mimeType = "text/pl\xC3\xA4in"; },
         kMailErrorBadType},
        {"shortest type", [](MailMessage& m) { m.attachments[0].mimeType = "a/b"; }, 0},
        {"type in capitals", [](MailMessage& m) { m.attachments[0].mimeType = "TEXT/X-Card+1.0"; }, 0},
        {"attachments at the limit",
         [](MailMessage& m) { m.attachments[0].data = ns::Data::make(std::string(kMaxAttachmentBytes, 'x')); }, 0},
        {"one byte past", [](MailMessage& m) {
             m.attachments[0].data = ns::Data::make(std::string(kMaxAttachmentBytes, 'x'));
             m.attachments.push_back({ns::Data::make(std::string("y")), "text/plain", "b.txt"});
         }, kMailErrorTooLarge},
    };
    for (const auto& c : cases) {
        MailMessage m;
        m.to = {"to@example.com"};
        m.attachments = {{ns::Data::make(std::string("x")), "text/plain", "a.txt"}};
        c.change(m);
        ns::Ref<ns::Error> error;
        auto text = m.render(&error);
        if (!c.error) {
            EXPECT_TRUE(text) << c.name;
            continue;
        }
        EXPECT_FALSE(text) << c.name;
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->code(), c.error) << c.name;
    }
    // A line break in the subject stays inside the header's text.
    MailMessage m;
    m.to = {"to@example.com"};
    m.subject = "Hi\r\nBcc: everyone@example.com";
    auto text = m.render();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->find("\r\nBcc:"), std::string::npos) << *text;
    // File names: 40 plain characters as they are, longer or non-ASCII in the extended form.
    for (auto [name, plain] : std::vector<std::pair<std::string, bool>>{
             {std::string(36, 'n') + ".txt", true}, {std::string(37, 'n') + ".txt", false}, {"r\xC3\xA9sum\xC3\xA9.txt", false}}) {
        m.attachments = {{ns::Data::make(std::string("x")), "text/plain", name}};
        text = m.render();
        ASSERT_TRUE(text) << name;
        EXPECT_EQ(text->find("filename=\"" + name + "\"") != std::string::npos, plain) << name;
        EXPECT_EQ(text->find("filename*0*=utf-8''") != std::string::npos, !plain) << name;
    }
}

TEST(MailEncoding, ABodyIsSentAsItIsOnlyWhenEveryLineSurvivesTransport) {
    struct Row {
        const char* name;
        std::string body;
        bool plain;  // 7bit, else quoted-printable
    } rows[] = {
        {"a line of 76", std::string(76, 'a'), true},
        {"a line of 77", std::string(77, 'a'), false},
        {"76 after a line break", "x\n" + std::string(76, 'a'), true},
        {"77 after a line break", "x\n" + std::string(77, 'a'), false},
        {"tab", "a\tb", true},
        {"control character", "a\x01" "b", false},
        {"delete", "a\x7F" "b", false},
        {"non-ASCII", "caf\xC3\xA9", false},
        {"a lone dot inside", "a\n.\nb", false},
        {"a lone dot first", ".\nb", false},
        {"a lone dot last", "a\n.", false},
        {"only a dot", ".", false},
        {"a dot that starts a line", "a\n.b", true},
        {"From first", "From me", false},
        {"From on a later line", "a\nFrom me", false},
        {"From inside a line", "a From me", true},
        // Quoted-printable lines are broken softly at 75 characters: what
        // starts the next line is looked at too.
        {"a dot after a soft line break", std::string(75, 'a') + ".\ncaf\xC3\xA9", false},
        {"From after a soft line break", std::string(75, 'a') + "From me, caf\xC3\xA9", false},
        {"a dot one before a soft line break", std::string(74, 'a') + ".\ncaf\xC3\xA9", false},
    };
    for (const Row& row : rows) {
        MailMessage m;
        m.to = {"to@example.com"};
        m.body = row.body;
        auto text = m.render();
        ASSERT_TRUE(text) << row.name;
        bool plain = text->find("Content-Transfer-Encoding: 7bit\r\n") != std::string::npos;
        EXPECT_EQ(plain, row.plain) << row.name << "\n" << *text;
        EXPECT_EQ(text->find("\r\n.\r\n"), std::string::npos) << row.name << "\n" << *text;
        EXPECT_EQ(text->find("\r\nFrom "), std::string::npos) << row.name << "\n" << *text;
    }
    // Quoted-printable lines stay within 76 characters, a blank at their end included.
    for (size_t n : {73u, 74u, 75u, 76u}) {
        std::string qp = encodeQuotedPrintable(std::string(n, 'a') + " ");
        std::istringstream lines(qp);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            EXPECT_LE(line.size(), 76u) << n << ": " << qp;
        }
        EXPECT_EQ(qp.substr(qp.size() - 3), "=20") << n;
    }
    // What a soft line break puts first on a line is encoded as it would be after a hard one.
    EXPECT_EQ(encodeQuotedPrintable(std::string(75, 'a') + ".\r\nb"), std::string(75, 'a') + "=\r\n=2E\r\nb");
    EXPECT_EQ(encodeQuotedPrintable(std::string(75, 'a') + "From x"), std::string(75, 'a') + "=\r\n=46rom x");
    EXPECT_EQ(encodeQuotedPrintable(std::string(74, 'a') + ".b"), std::string(74, 'a') + ".=\r\nb");
    EXPECT_EQ(encodeQuotedPrintable(std::string(74, 'a') + "From x"), std::string(74, 'a') + "F=\r\nrom x");
}

TEST(MailEncoding, AddressLinesFoldOnlyWhenTheyWouldPass78Characters) {
    auto address = [](size_t n, char c) { return std::string(n - 12, c) + "@example.com"; };  // n characters
    const std::string a = address(20, 'a'), b = address(20, 'b');
    struct Row {
        const char* name;
        std::string c;
        std::string header;
    } rows[] = {
        {"a line of 78", address(30, 'c'), "To: " + a + ", " + b + ", " + address(30, 'c') + "\r\n"},
        {"one more", address(31, 'c'), "To: " + a + ", " + b + ",\r\n " + address(31, 'c') + "\r\n"},
    };
    for (const Row& row : rows) {
        MailMessage m;
        m.to = {a, b, row.c};
        auto text = m.render();
        ASSERT_TRUE(text) << row.name;
        size_t to = text->find("\r\nTo: ");
        ASSERT_NE(to, std::string::npos) << row.name << "\n" << *text;
        EXPECT_EQ(text->substr(to + 2, row.header.size()), row.header) << row.name;
    }
    // Display names: atoms as they are, other ASCII quoted, the rest (and
    // names past 60 characters) as encoded words.
    const std::string sixty(60, 'n');
    const Row names[] = {
        {"an atom", "Ann Smith <a@example.org>", "To: Ann Smith <a@example.org>\r\n"},
        {"quoted already", "\"Smith, Ann\" <a@example.org>", "To: \"Smith, Ann\" <a@example.org>\r\n"},
        {"quotes not needed", "\"Ann\" <a@example.org>", "To: Ann <a@example.org>\r\n"},
        {"a dot", "Dr. A <a@example.org>", "To: \"Dr. A\" <a@example.org>\r\n"},
        {"quotes inside", "Say \"hi\" <a@example.org>", "To: \"Say \\\"hi\\\"\" <a@example.org>\r\n"},
        {"empty quotes", "\"\" <a@example.org>", "To: a@example.org\r\n"},
        {"blanks only", "   <a@example.org>", "To: a@example.org\r\n"},
        {"non-ASCII", "Jos\xC3\xA9 <a@example.org>", "To: =?utf-8?B?Sm9zw6k=?= <a@example.org>\r\n"},
        {"sixty characters", sixty + " <a@example.org>", "To: " + sixty + " <a@example.org>\r\n"},
        {"sixty-one", sixty + "n <a@example.org>", "To: =?utf-8?B?"},
        {"a lone quote", "\" <a@example.org>", "To: \"\\\"\" <a@example.org>\r\n"},
        {"quoted pairs", "\"Say \\\"hi\\\" \\\\ bye\" <a@example.org>", "To: \"Say \\\"hi\\\" \\\\ bye\" <a@example.org>\r\n"},
        {"an encoded word's look", "=?utf-8?B?SGk=?= <a@example.org>", "To: =?utf-8?B?PT91dGYtOD9CP1NHaz0/PQ==?= <a@example.org>\r\n"},
    };
    for (const Row& row : names) {
        MailMessage m;
        m.to = {row.c};
        auto text = m.render();
        ASSERT_TRUE(text) << row.name;
        size_t to = text->find("\r\nTo: ");
        ASSERT_NE(to, std::string::npos) << row.name << "\n" << *text;
        EXPECT_EQ(text->substr(to + 2, row.header.size()), row.header) << row.name;
    }
}

TEST(MailEncoding, QuotedPrintableKeepsLinesShortAndCharactersWhole) {
    std::string text = std::string(70, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9 trailing \r\nnext";
    std::string qp = encodeQuotedPrintable(text);
    std::istringstream lines(qp);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        EXPECT_LE(line.size(), 76u) << line;
        // No encoded character is split across a soft line break.
        EXPECT_FALSE(line.size() >= 4 && line.compare(line.size() - 4, 3, "=C3") == 0 && line.back() == '=') << line;
    }
    EXPECT_NE(qp.find("trailing=20\r\nnext"), std::string::npos) << qp;
    EXPECT_EQ(encodeQuotedPrintable("a=b"), "a=3Db");
    EXPECT_EQ(encodeHeaderText("plain", 9), "plain");
    EXPECT_EQ(encodeHeaderText("\xC3\xA9", 9), "=?utf-8?B?w6k=?=");
    // An encoded word holds at most 45 bytes of whole characters.
    auto words = [](const std::string& text) {
        std::string enc = encodeHeaderText(text, 9);
        size_t n = 0;
        for (size_t at = enc.find("=?utf-8?B?"); at != std::string::npos; at = enc.find("=?utf-8?B?", at + 1)) ++n;
        return n;
    };
    auto repeat = [](const char* c, int n) {
        std::string s;
        while (n-- > 0) s += c;
        return s;
    };
    EXPECT_EQ(words(repeat("\xE2\x82\xAC", 15)), 1u);  // 15 characters of three bytes: 45 bytes
    EXPECT_EQ(words(repeat("\xE2\x82\xAC", 16)), 2u);
    EXPECT_EQ(words(repeat("\xE2\x82\xAC", 15) + "a"), 2u);
    // Four bytes each: eleven in the first word.
    EXPECT_EQ(encodeHeaderText(repeat("\xF0\x9F\x83\x8F", 20), 9),
              "=?utf-8?B?8J+Dj/Cfg4/wn4OP8J+Dj/Cfg4/wn4OP8J+Dj/Cfg4/wn4OP8J+Dj/Cfg48=?=\r\n"
              " =?utf-8?B?8J+Dj/Cfg4/wn4OP8J+Dj/Cfg4/wn4OP8J+Dj/Cfg4/wn4OP?=");
    EXPECT_EQ(encodeHeaderText("=?utf-8?B?SGk=?=", 9), "=?utf-8?B?PT91dGYtOD9CP1NHaz0/PQ==?=");
    EXPECT_EQ(encodeHeaderText("a = ? b", 9), "a = ? b");
    // Words of up to 70 characters fold at blanks; a longer one is encoded (encoded words fold anywhere).
    EXPECT_EQ(encodeHeaderText("a " + std::string(70, 'w'), 9), "a\r\n " + std::string(70, 'w'));
    EXPECT_EQ(encodeHeaderText("a " + std::string(71, 'w'), 9).rfind("=?utf-8?B?", 0), 0u);
    struct Date {
        double t;
        const char* text;
    } dates[] = {
        {0, "Thu, 01 Jan 1970 00:00:00 +0000"},
        {-1, "Wed, 31 Dec 1969 23:59:59 +0000"},
        {951782400, "Tue, 29 Feb 2000 00:00:00 +0000"},
        {253402300799, "Fri, 31 Dec 9999 23:59:59 +0000"},   // the last moment of a four-digit year
        {-62135596800, "Mon, 01 Jan 0001 00:00:00 +0000"},  // the first
        {1.9, "Thu, 01 Jan 1970 00:00:01 +0000"},
    };
    for (const Date& d : dates) EXPECT_EQ(formatDate(d.t), d.text) << d.t;
}

}  // namespace
}  // namespace mail

#include "platform/mail/MessageComposeViewController.h"

namespace mail {
namespace {

struct TextWatcher : ns::Object, MessageComposeViewControllerDelegate {
    std::vector<MessageComposeResult> results;
    void messageComposeViewControllerDidFinishWithResult(MessageComposeViewController*, MessageComposeResult r) override {
        results.push_back(r);
    }
};

TEST_F(MailTest, TextMessagesGoToTheirOwnOutbox) {
    auto watcher = ns::make<TextWatcher>();
    auto composer = MessageComposeViewController::make();
    composer->setMessageComposeDelegate(watcher.get());
    composer->setRecipients({"+1 555 0100"});
    composer->setBody("Look at this card\nplease");
    std::string path = composer->send();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(*ns::readFile(path), "To: +1 555 0100\r\n\r\nLook at this card\r\nplease");
    composer->setRecipients({"evil\r\nTo: x"});
    EXPECT_EQ(composer->send(), "");
    composer->cancel();
    EXPECT_EQ(watcher->results, (std::vector<MessageComposeResult>{MessageComposeResult::Sent,
                                                                   MessageComposeResult::Failed,
                                                                   MessageComposeResult::Cancelled}));
}

// A composer whose delegate has gone (the screen that opened it was let
// go) or that never had one is closed by nobody else: Cancel and Send close
// it themselves, so the user is never left with a screen whose buttons are
// off. A failed send keeps it up, with its alert. A delegate that is there
// decides, as before (it may leave the composer up).
TEST_F(MailTest, AComposerNoOneIsLeftToCloseClosesItselfAfterCancelOrSend) {
    struct Row {
        const char* name;
        bool message;   // the text-message composer, else the mail composer
        bool delegate;  // a delegate was set, and let go before the tap
        const char* tap;
        const char* recipient;
        bool closes;
    };
    const Row rows[] = {
        {"mail, delegate let go, Cancel", false, true, "Cancel", "friend@example.org", true},
        {"mail, delegate let go, Send", false, true, "Send", "friend@example.org", true},
        {"mail, no delegate, Cancel", false, false, "Cancel", "", true},
        {"mail, delegate let go, Send refused", false, true, "Send", "caf\xC3\xA9@example.org", false},
        {"message, delegate let go, Cancel", true, true, "Cancel", "+1 555 0100", true},
        {"message, no delegate, Send", true, false, "Send", "+1 555 0100", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ui::Panel::resetShown();
        auto w = makeWindow();
        auto root = ns::make<ui::ViewController>();
        w->setRootViewController(root);
        ns::Ref<ui::NavigationController> composer;
        if (row.message) {
            auto m = MessageComposeViewController::make();
            auto watcher = ns::make<TextWatcher>();
            if (row.delegate) m->setMessageComposeDelegate(watcher.get());
            m->setRecipients({row.recipient});
            m->setBody("hello");
            composer = m;
        } else {
            auto m = MailComposeViewController::make();
            auto listener = ns::make<Listener>();
            if (row.delegate) m->setMailComposeDelegate(listener.get());
            if (*row.recipient) m->setToRecipients({row.recipient});
            composer = m;
        }
        ASSERT_TRUE(root->presentViewController(composer, false));
        ui::Driver d;
        d.settle();
        ASSERT_EQ(w->topViewController(), composer.get());
        ASSERT_TRUE(d.tapBarButton(row.tap)) << d.lastError();
        if (!row.closes) {
            EXPECT_EQ(w->topViewController(), composer.get()) << "the composer stays with its alert";
            EXPECT_TRUE(ui::Panel::topPanel());
            continue;
        }
        EXPECT_EQ(w->topViewController(), root.get());
        EXPECT_EQ(root->presentedViewController(), nullptr);
        EXPECT_TRUE(root->isOnScreen());
        EXPECT_FALSE(composer->isOnScreen());
        EXPECT_EQ(composer->view()->superview(), nullptr);
    }
}

}  // namespace
}  // namespace mail
