// The tell-a-friend mail as it lands in the outbox, read back by Python's
// email package: subject, recipients, and the HTML part with its link.
#include "app/tests/AppTestSupport.h"

#include "app/marketing/EmbeddedMailViewController.h"
#include "platform/mail/MailComposeViewController.h"
#include "testsupport/Command.h"

namespace app::test {

using MarketingPeer = PhoneAppTest;

TEST_F(MarketingPeer, TellAFriendMailIsAMessageEmailReads) {
    ASSERT_TRUE(driver->tapTab("More"));
    ASSERT_TRUE(driver->tapRow("tell a friend")) << driver->lastError();
    ASSERT_TRUE(driver->typeText("To", "friend@example.org")) << driver->lastError();
    ASSERT_TRUE(driver->tapBarButton("Send")) << driver->lastError();
    std::string eml;
    for (auto& e : fs::directory_iterator(home + "/Outbox"))
        if (e.path().extension() == ".eml") eml = e.path().string();
    ASSERT_FALSE(eml.empty());
    std::string out = testsupport::runPython(home, "marketing_peer.py", R"(
import email, email.policy, sys
from html.parser import HTMLParser
msg = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.default)
problems = []
if msg['Subject'] != 'New Tarnwick Veltra Media App!':
    problems.append('subject %r' % msg['Subject'])
if [a.addr_spec for a in msg['To'].addresses] != ['friend@example.org']:
    problems.append('to %r' % msg['To'])
html = msg.get_body(preferencelist=('html',))
if html is None:
    problems.append('no html part')
else:
    class Links(HTMLParser):
        def __init__(self):
            super().__init__()
            self.links, self.current, self.text = [], None, []
        def handle_starttag(self, tag, attrs):
            if tag == 'a':
                self.current = dict(attrs).get('href')
        def handle_endtag(self, tag):
            if tag == 'a':
                self.links.append((self.current, ''.join(self.text)))
                self.current, self.text = None, []
        def handle_data(self, data):
            if self.current is not None:
                self.text.append(data)
    p = Links()
    content = html.get_content()
    p.feed(content)
    if p.links != [('www.tarnwick.example', 'www.tarnwick.example')]:
        problems.append('links %r' % p.links)
    if not content.startswith('Hello!  Check out the new Tarnwick Veltra Media Job Search App.'):
        problems.append('html %r' % content)
print('OK' if not problems else '; '.join(problems))
)",
                                 {eml});
    EXPECT_EQ(out, "OK\n");
}

}  // namespace app::test
