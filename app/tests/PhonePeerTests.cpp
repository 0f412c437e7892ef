// The phone's files read back by standard tools: the groups file by Python's
// plistlib, and a mailed card (an .eml in the outbox) by Python's email
// package.
#include "app/tests/AppTestSupport.h"

#include "app/ContentModel.h"
#include "app/phone/CardViewController.h"
#include "app/phone/SavedGroupsFile.h"
#include "app/phone/ShareCardViewController_Iphone.h"
#include "app/phone/ViewGroupsController.h"
#include "platform/mail/MailComposeViewController.h"
#include "testsupport/Command.h"

namespace app::test {

using PhonePeer = PhoneAppTest;

TEST_F(PhonePeer, GroupsFileIsAnXMLPropertyListPlistlibReads) {
    ASSERT_TRUE(driver->tapTab("Practice"));
    ASSERT_TRUE(driver->tapButton("Groups"));
    for (auto& [name, cards] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"Café round", {"Body language", "A failure"}},
             {"   ", {"Salary expectations"}},
             {"Q&A <\"first\"> 'round' ]]>", {"A failure"}}}) {
        ASSERT_TRUE(driver->tapRow(ViewGroupsController::kAddRowText));
        ASSERT_TRUE(driver->typeText("Group name", name));
        for (auto& c : cards) ASSERT_TRUE(driver->tapRow(c));
        ASSERT_TRUE(driver->tapButton("Save"));
    }
    std::string out = testsupport::runPython(home, "peer.py", R"(
import json, plistlib, sys
data = open(sys.argv[1], 'rb').read()
assert data.startswith(b'<?xml'), data[:40]
groups = plistlib.loads(data, fmt=plistlib.FMT_XML)
assert isinstance(groups, list)
rows = []
for g in groups:
    assert sorted(g.keys()) == ['Name', 'SelectedCards'], g.keys()
    for c in g['SelectedCards']:
        assert set(c) >= {'title', 'index', 'color', 'post', 'text', 'ActionData'}, c.keys()
    rows.append([g['Name'], [c['title'] for c in g['SelectedCards']], [c['index'] for c in g['SelectedCards']]])
print(json.dumps(rows, ensure_ascii=False))
)",
                             {documents("savedGroups-QuillonIphone.plist")});
    EXPECT_EQ(out,
              "[[\"Café round\", [\"Body language\", \"A failure\"], [\"41\", \"10\"]], "
              "[\"New Group\", [\"Salary expectations\"], [\"33\"]], "
              "[\"Q&A <\\\"first\\\"> 'round' ]]>\", [\"A failure\"], [\"10\"]]]\n");
    // The app reads the same names back after a restart.
    startPhone();
    if (auto* alert = dynamic_cast<ui::AlertView*>(ui::Panel::topPanel()); alert && alert->title().empty()) {
        ASSERT_TRUE(driver->pressAlertButton("Remind me later"));  // the rate prompt of a second launch
    }
    ASSERT_TRUE(driver->tapTab("Practice"));
    ASSERT_TRUE(driver->tapButton("Groups"));
    EXPECT_TRUE(driver->tapRow("Q&A <\"first\"> 'round' ]]>")) << driver->lastError() << screen();
}

// A card read back from a saved group, whose web address holds HTML's
// reserved characters, mailed from its share screen: Python's email and
// html.parser read the link back as the address itself.
TEST_F(PhonePeer, ACardFromASavedGroupIsMailedWithItsAddressReadBackWhole) {
    const std::string post = "korvel.example/cards?id=41&from=\"group\"<b>'x'</b>";
    auto deckCard = ns::as<ns::Dictionary>(delegate->allCards()->objectAtIndex(0));
    ASSERT_TRUE(deckCard);
    auto stored = deckCard->mutableCopy();
    stored->setObject(ns::String::make(post), "post");
    auto group = ns::Dictionary::make({{SavedGroupsFile::kNameKey, ns::str("Stored")},
                                       {SavedGroupsFile::kCardsKey, ns::Array::make({stored})}});
    ASSERT_TRUE(ns::PropertyList::writeToFile(*ns::Array::make({group}), documents(SavedGroupsFile::kFileName)));
    startPhone();
    if (auto* alert = dynamic_cast<ui::AlertView*>(ui::Panel::topPanel()); alert && alert->title().empty()) {
        ASSERT_TRUE(driver->pressAlertButton("Remind me later"));
    }
    ASSERT_TRUE(driver->tapTab("Practice"));
    ASSERT_TRUE(driver->tapButton("Groups"));
    ASSERT_TRUE(driver->tapRow("Stored")) << driver->lastError() << screen();
    std::string title = rowString(stored.get(), "title");
    ASSERT_TRUE(driver->tapRow(ns::describe(ns::String::make(title)->lowercaseString()))) << driver->lastError() << screen();
    ASSERT_TRUE(driver->tapButton("Share")) << driver->lastError() << screen();
    ASSERT_TRUE(driver->tapButton("E-mail")) << driver->lastError();
    auto* composer = shownComposer();
    ASSERT_TRUE(composer) << screen();
    ns::Ref<mail::MailComposeViewController> keep(composer);
    ASSERT_TRUE(driver->typeText("To", "friend@example.org")) << driver->lastError();
    ASSERT_TRUE(driver->tapBarButton("Send")) << driver->lastError();
    std::string path = composer->lastWrittenPath();
    ASSERT_FALSE(path.empty());
    std::string out = testsupport::runPython(home, "peer.py", R"(
import email, email.policy, html.parser, json, sys
msg = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.default)
class Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links, self.open = [], None
    def handle_starttag(self, tag, attrs):
        if tag == 'a':
            self.open = [dict(attrs).get('href'), '']
        elif self.open is not None:
            self.open[1] += '<%s>' % tag
    def handle_endtag(self, tag):
        if tag == 'a' and self.open is not None:
            self.links.append(self.open)
            self.open = None
        elif self.open is not None:
            self.open[1] += '</%s>' % tag
    def handle_data(self, data):
        if self.open is not None:
            self.open[1] += data
p = Links()
p.feed(msg.get_body(preferencelist=('html',)).get_content())
print(json.dumps(p.links, ensure_ascii=False))
)",
                                              {path});
    EXPECT_EQ(out, "[[\"http://korvel.example/cards?id=41&from=\\\"group\\\"<b>'x'</b>\", "
                   "\"korvel.example/cards?id=41&from=\\\"group\\\"<b>'x'</b>\"]]\n");
}

TEST_F(PhonePeer, MailedCardLandsInTheOutboxAsAMessageEmailReads) {
    ASSERT_TRUE(driver->tapRow("closing the interview"));
    ASSERT_TRUE(driver->tapRow("salary expectations"));
    ASSERT_TRUE(driver->tapButton("Share"));
    ASSERT_TRUE(driver->tapButton("E-mail"));
    auto* composer = shownComposer();
    ASSERT_TRUE(composer);
    ns::Ref<mail::MailComposeViewController> keep(composer);
    ASSERT_TRUE(driver->typeText("To", "friend@example.org")) << driver->lastError();
    ASSERT_TRUE(driver->tapBarButton("Send")) << driver->lastError();
    EXPECT_FALSE(shownComposer());
    std::string path = composer->lastWrittenPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(home) / "Outbox");
    EXPECT_EQ(fs::path(path).extension(), ".eml");

    std::string expected = home + "/expected-body.html";
    writeFile(expected, ShareCardViewController_Iphone::mailBody("korvel.example/cards/33"));
    std::string out = testsupport::runPython(home, "peer.py", R"(
import email, email.policy, sys
msg = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.default)
want = open(sys.argv[2], encoding='utf-8').read()
problems = []
if msg['Subject'] != 'A great card from the Tarnwick Veltra Media Job Search App':
    problems.append('subject %r' % msg['Subject'])
if [a.addr_spec for a in msg['To'].addresses] != ['friend@example.org']:
    problems.append('to %r' % msg['To'])
if msg['Cc'] is not None:
    problems.append('cc %r' % msg['Cc'])
html = msg.get_body(preferencelist=('html',))
if html is None:
    problems.append('no html part')
else:
    got = html.get_content()
    if got.rstrip('\r\n') != want:
        problems.append('html %r' % got)
print('OK' if not problems else '; '.join(problems))
)",
                             {path, expected});
    EXPECT_EQ(out, "OK\n");
}

}  // namespace app::test
