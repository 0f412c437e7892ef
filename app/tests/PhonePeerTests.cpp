// The phone's files read back by standard tools: the groups file by Python's
// plistlib, and a mailed card (an .eml in the outbox) by Python's email
// package.
#include "app/tests/AppTestSupport.h"

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
             {"Café round", {"Body language", "A failure"}}, {"   ", {"Salary expectations"}}}) {
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
              "[\"New Group\", [\"Salary expectations\"], [\"33\"]]]\n");
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
