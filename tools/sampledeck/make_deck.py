#!/usr/bin/env python3
"""Writes the bundled sample deck into resources/: the property lists, the card
pages in html_iphone/ and html_ipad/, and small placeholder images.

The output is checked in; run this again after changing the cards below.
Usage: tools/sampledeck/make_deck.py [resources-folder]
"""
import os
import plistlib
import struct
import sys
import zlib

SITE = "korvel.example"
# The store's review page for the app, as the app opens it (its store host and
# identifier are in app/AppConfig.h). Card pages link to it directly: both the
# phone and the tablet open such an outside link with the system.
STORE_REVIEW_PAGE = ("itms-apps://itunes.tarnwick-store.example/WebObjects/MZStore.woa/wa/"
                     "viewContentsUserReviews?id=684213097&onlyLatestVersion=true&pageNumber=0"
                     "&sortOrdering=1&type=Purple+Software")

# (deck title, subtitle, colour, [(card title, question, answer)])
DECKS = [
    ("About you", "Questions on your story and motives", "blue", [
        ("Tell me about yourself",
         "Tell me about yourself.",
         "Give a two-minute story: where you are now, the two or three experiences that "
         "brought you here, and why this role is the natural next step. Stop before the "
         "interviewer's attention does."),
        ("Why do you want this job",
         "Why do you want to work here?",
         "Name something specific about the team or product, connect it to work you have "
         "enjoyed doing, and say what you expect to learn. Generic praise of the company "
         "sounds rehearsed."),
        ("Greatest strength",
         "What is your greatest strength?",
         "Pick one strength that the job needs, prove it with a short example that has a "
         "result, and say how you would use it in the first months."),
        ("Greatest weakness",
         "What is your greatest weakness?",
         "Choose a real weakness that is not central to the role, show what you already do "
         "about it, and give evidence that it is improving."),
        ("Where in five years",
         "Where do you see yourself in five years?",
         "Show ambition that fits the path the role offers: deeper skills, more "
         "responsibility, a problem you want to own. Avoid naming the interviewer's job."),
        ("Describe yourself in three words",
         "How would you describe yourself in three words?",
         "Choose three words the job needs and back each with a one-line example. "
         "\"Curious, reliable, direct\" means little until you show when you were."),
        ("What motivates you",
         "What motivates you?",
         "Name a motivation that the role can satisfy, such as solving a kind of problem or "
         "helping a kind of customer, and prove it with something you chose to do when "
         "nobody asked you to."),
        ("Why are you leaving",
         "Why are you leaving your current job?",
         "Speak about what you are moving towards, not what you are escaping. Never "
         "criticise a former employer or colleague."),
    ]),
    ("Experience", "Behavioural questions with the STAR method", "green", [
        ("A conflict at work",
         "Describe a conflict with a colleague and how you resolved it.",
         "Use Situation, Task, Action, Result. Show that you listened first, looked for the "
         "shared goal, and kept the relationship. End with what changed afterwards."),
        ("A failure",
         "Tell me about a time you failed.",
         "Own the failure plainly, explain the cause without excuses, and spend most of the "
         "answer on what you learned and how you applied it later."),
        ("Leading without authority",
         "Give an example of leading a team without formal authority.",
         "Describe how you built agreement: a clear goal, small early wins, credit given "
         "away. Quantify the outcome where you can."),
        ("Working under pressure",
         "How do you handle tight deadlines?",
         "Show how you cut scope, communicate early about risks, and protect quality on "
         "what matters most. A concrete deadline story beats a general claim."),
        ("A difficult customer",
         "Tell me about a difficult customer.",
         "Show empathy, separate the person from the problem, and describe the fix and the "
         "follow-up. Mention what you changed so it would not happen again."),
        ("Changing your mind",
         "Tell me about a time you changed your mind.",
         "Show that you weigh evidence over pride: what you believed, what new information "
         "came up, how you changed course, and what the result was."),
        ("Managing priorities",
         "How do you decide what to work on first?",
         "Explain a simple rule, such as impact against effort and deadlines that others "
         "depend on, then give an example of saying no or later to something."),
        ("Your biggest achievement",
         "What is the achievement you are proudest of?",
         "Choose one with a measurable result and a clear personal contribution. Explain "
         "the obstacle that made it hard."),
    ]),
    ("Technical interviews", "Problem solving, design and code", "cyan", [
        ("Thinking aloud",
         "How should I approach a problem I have never seen?",
         "Restate the problem in your own words, ask about inputs and limits, and say your "
         "first idea out loud even if it is slow. Interviewers grade the reasoning they can "
         "hear, not the silence before a perfect answer."),
        ("Clarifying questions",
         "Which questions should I ask before solving?",
         "Ask about the size of the input, the edge cases that matter (empty, duplicates, "
         "very large values), whether speed or memory is the constraint, and what a good "
         "answer looks like. Write the answers down where both of you can see them."),
        ("Testing your own answer",
         "How do I show that my solution works?",
         "Walk one ordinary example through your solution by hand, then an edge case. Name "
         "the running time and memory. Finding your own bug calmly scores better than "
         "never looking."),
        ("System design basics",
         "How do I structure a system design answer?",
         "Start from the requirements and the expected load, sketch the main components and "
         "the data flow, then go deep on the one part the interviewer cares about. State "
         "the trade-offs you chose and what you would measure."),
        ("When you are stuck",
         "What do I do when I get stuck?",
         "Say where you are stuck and why. Try a smaller version of the problem, a brute "
         "force answer, or a different data structure. Accept hints gracefully; using a "
         "hint well is a skill interviewers look for."),
        ("Explaining past projects",
         "How do I talk about a technical project?",
         "Describe the problem and why it mattered, your own part in the design, one hard "
         "decision with its alternatives, and the measurable outcome. Be ready to go one "
         "level deeper on anything you mention."),
    ]),
    ("Video and phone interviews", "Remote interviews done well", "wine", [
        ("Testing your set-up",
         "How do I prepare my set-up for a video interview?",
         "Test the camera, microphone and connection the day before with the same software. "
         "Sit facing a window or lamp, put the camera at eye level, and close every program "
         "that could make a noise."),
        ("Looking at the camera",
         "Where should I look during a video call?",
         "Look at the camera when you make a key point and at the screen when you listen. "
         "Keep your notes near the camera so that glancing at them does not look like "
         "looking away."),
        ("Phone screen tips",
         "How is a phone screen different?",
         "Without body language your voice carries everything: stand up, smile while you "
         "speak, and keep answers shorter. Keep your CV and the job description in front "
         "of you."),
        ("Handling interruptions",
         "What if something goes wrong during the call?",
         "Say calmly what happened and how you will fix it: reconnecting, moving rooms, "
         "switching to the phone. Agree a fallback number at the start of the call."),
        ("Ending a remote interview",
         "How do I close a remote interview well?",
         "Thank them, restate your interest in one sentence, and confirm the next step and "
         "its timing. Send a short written thank-you the same day."),
    ]),
    ("Changing careers", "Telling a convincing change story", "yellow", [
        ("Explaining the change",
         "Why are you changing careers?",
         "Tell the change as a story with a direction: what drew you to the new field, what "
         "you have already done about it, and why now. Avoid sounding as if you are only "
         "escaping the old job."),
        ("Transferable skills",
         "How do my old skills apply here?",
         "Translate your experience into the new field's language: managing stakeholders, "
         "analysing data, running projects. Give one example for each skill that the job "
         "description names."),
        ("Lack of experience",
         "You have no experience in this field, have you?",
         "Acknowledge it briefly, then show evidence of fast learning: courses finished, a "
         "project built, volunteer work. Offer a plan for the first three months."),
        ("Starting over in salary",
         "Will you accept a lower salary?",
         "Decide your minimum before the interview. Say that you value the move and are "
         "flexible within a range, and mention how quickly you expect to add value."),
        ("Networking into a new field",
         "How do I find interviews in a new field?",
         "Ask people already in the field for twenty-minute conversations about their work, "
         "not for jobs. Most referrals come from these talks."),
    ]),
    ("Closing the interview", "Salary, questions and follow-up", "purple", [
        ("Salary expectations",
         "What are your salary expectations?",
         "Research the market range first. Give a range whose bottom you would accept, and "
         "say that the whole package and the role matter to you."),
        ("Questions for us",
         "Do you have any questions for us?",
         "Always ask two or three: how success is measured in the first ninety days, what "
         "the team's hardest problem is, and what the next steps are."),
        ("Why should we hire you",
         "Why should we hire you?",
         "Summarise the three strongest matches between your experience and their needs, "
         "and add one thing that sets you apart."),
        ("Negotiating an offer",
         "How do I negotiate an offer?",
         "Thank them and ask for a day to consider. Then ask for one or two specific "
         "changes, backed by market data or a competing offer, and say what would make you "
         "accept at once."),
        ("Handling rejection",
         "What should I do after a rejection?",
         "Reply politely, ask for one piece of feedback, and keep the contact: people who "
         "take a rejection well are often called first when the next role opens."),
        ("The thank-you note",
         "Should I send a thank-you note?",
         "Yes, within a day. Thank them for their time, recall one point from the "
         "conversation, and restate your interest in one sentence."),
    ]),
]

TACTICS = [
    ("Before the interview", "silver", [
        ("Research the company",
         "How should I research the company?",
         "Read the company's own pages, recent news and the job description. Note three "
         "facts you can use in answers and two questions you want answered."),
        ("Prepare your stories",
         "How many stories should I prepare?",
         "Prepare six to eight short stories that cover teamwork, conflict, failure, "
         "leadership and a success. Most behavioural questions map onto one of them."),
    ]),
    ("During the interview", "yellow", [
        ("Body language",
         "What body language helps?",
         "Sit upright, keep natural eye contact, and pause before answering a hard "
         "question. A calm pace reads as confidence."),
        ("Answer length",
         "How long should an answer be?",
         "One to two minutes for most questions. Offer more detail if the interviewer asks "
         "for it rather than running long."),
    ]),
]

# Information pages of the tablet's info button: (title, page, HTML body).
INFO_PAGES = [
    ("About this deck", "KORVEL_info.html",
     "<p>Questions, model answers and tactics for job interviews, in six decks and a set of "
     "tactics cards.</p>"),
    ("How to use the cards", "KORVEL_info_use.html",
     "<p>Read the question, answer it aloud, then turn the card. Pinch to change the text size. "
     "Keep the cards you want to repeat among your favourites, and group cards for one "
     "interview.</p>"),
    ("Practising well", "KORVEL_info_practice.html",
     "<p>Practise with random cards: say your answer before you look. Time yourself: most "
     "answers should take one to two minutes. Record one session and listen to it.</p>"),
    ("About the publisher", "KORVEL_info_maker.html",
     "<p>Tarnwick publishes interview-preparation decks. Write to us at "
     "<a href=\"mailto:cards@korvel.example\">cards@korvel.example</a>.</p>"),
]

COLOURS = ["silver", "black", "wine", "blue", "yellow", "purple", "green", "cyan", "flat", "dark"]


def card_row(index, colour, title, question, answer):
    return {
        "title": title,
        "index": str(index),
        "ActionData": "KORVEL_%d.html" % index,
        "color": colour,
        "post": "%s/cards/%d" % (SITE, index),
        "text": "%s %s %s" % (title, question, answer),
    }


def card_page(row, question, answer, links):
    # A card link names the card by its index: the app looks the link's last
    # path component up among the cards' "index" values.
    link_html = "".join(
        '<li><a href="%s">%s</a></li>' % (i, t) for i, t in links)
    related = "<h3>Related cards</h3><ul>%s</ul>" % link_html if links else ""
    return """<html>
<head>
<meta charset="utf-8">
<link rel="stylesheet" href="card.css">
<title>{title}</title>
</head>
<body class="{colour}">
<h1 class="{colour}">{title}</h1>
<h2>Question</h2>
<p class="question">{question}</p>
<h2>Answer</h2>
<p class="answer">{answer}</p>
{related}
<p class="contact"><a href="mailto:cards@{site}">Write to us</a> &middot; <a href="{review}">Rate this app</a> &middot; <a href="http://www.{site}/advice/">More advice on {site}</a></p>
</body>
</html>
""".format(title=row["title"], colour=row["color"], question=question, answer=answer,
           related=related, site=SITE, review=STORE_REVIEW_PAGE.replace("&", "&amp;"))


def png(width, height, rgb):
    raw = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


COLOUR_RGB = {"silver": (192, 192, 192), "black": (20, 20, 20), "wine": (114, 47, 55),
              "blue": (40, 80, 170), "yellow": (230, 200, 40), "purple": (110, 60, 150),
              "green": (50, 140, 70), "cyan": (40, 170, 190), "flat": (230, 230, 230),
              "dark": (50, 50, 60)}


def write_plist(folder, name, value):
    with open(os.path.join(folder, name), "wb") as f:
        plistlib.dump(value, f, fmt=plistlib.FMT_XML, sort_keys=False)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")
    html = os.path.join(out, "html_iphone")
    html_ipad = os.path.join(out, "html_ipad")
    for d in (out, html, html_ipad):
        os.makedirs(d, exist_ok=True)

    all_cards, decks, pages = [], [], []
    index = 1

    def add_cards(colour, cards):
        nonlocal index
        rows = []
        for title, q, a in cards:
            row = card_row(index, colour, title, q, a)
            rows.append(row)
            pages.append((row, q, a))
            all_cards.append(row)
            index += 1
        return rows

    for title, subtitle, colour, cards in DECKS:
        decks.append({"Title": title, "SubTitle": subtitle, "color": colour,
                      "Children": add_cards(colour, cards)})
    tactics_rows = [{"Title": "Interview tactics", "lleva": "YES", "color": "black", "tamano": 40}]
    for title, colour, cards in TACTICS:
        tactics_rows.append({"Title": title, "color": colour, "tactics": "YES",
                             "back": "Tactics", "Children": add_cards(colour, cards)})

    # Each card page links to its neighbours in the same deck.
    by_colour = {}
    for row, _, _ in pages:
        by_colour.setdefault(row["color"], []).append(row)
    for row, q, a in pages:
        siblings = [r for r in by_colour[row["color"]] if r is not row][:2]
        with open(os.path.join(html, row["ActionData"]), "w", encoding="utf-8") as f:
            f.write(card_page(row, q, a, [(r["index"], r["title"]) for r in siblings]))

    # Decks stay at positions 0..2: the tablet's deck buttons address them by position.
    deck_index = decks + [
        {"Title": "Invite a friend", "Action": "referral:", "color": "flat"},
        {"Title": "Sign up for news", "Action": "singUp:", "color": "flat"},
    ]
    write_plist(out, "allCards-Iphone.plist", all_cards)
    write_plist(out, "InterviewIphone.plist", tactics_rows)
    write_plist(out, "shareIphone.plist", {
        "subject": "An interview card for you",
        "message": "I found this card useful while preparing for interviews:",
    })
    write_plist(out, "infoIphone.plist", {
        "about": "Interview cards: questions, model answers and tactics.",
        "version": "1.0",
    })
    info_rows = [{"Title": title, "ActionData": page, "color": "silver"} for title, page, _ in INFO_PAGES]
    write_plist(out, "infoIpad.plist", {"Children": info_rows})
    practice_questions = [dict(r) for r in all_cards[:6]]
    write_plist(out, "Practice.plist", {"Children": [
        {"Title": "Practice", "lleva": "YES", "color": "black", "tamano": 40},
        {"Title": "Random cards", "ActionPractice": "Random", "color": "wine"},
        {"Title": "Questions", "ActionPractice": "Questions", "color": "cyan",
         "Children": practice_questions},
        {"Title": "Groups", "ActionPractice": "GroupCard", "color": "silver"},
    ]})
    # Rows 0 and 3 are headings (no tipo, no indicator); row 1 is a note.
    write_plist(out, "FollowUS.plist", [
        {"Title": "Write to us", "Imagen": "FranjaCarta-black", "tamano": 40},
        {"Title": "We read every message", "Imagen": "FranjaCarta-flat", "tamano": 44},
        {"Title": "Send us feedback", "Imagen": "FranjaCarta-blue", "tamano": 60, "tipo": 0},
        {"Title": "Follow us", "Imagen": "FranjaCarta-black", "tamano": 40},
        {"Title": "Recommend the app", "Imagen": "FranjaCarta-green", "tamano": 60, "tipo": 1},
        {"Title": "Sign up for news", "Imagen": "FranjaCarta-purple", "tamano": 60, "tipo": 2},
        {"Title": "Visit our site", "Imagen": "FranjaCarta-silver", "ActionData": "http://www.tarnwick.example/"},
        {"Title": "Twitter", "Imagen": "FranjaCarta-cyan", "ActionData": "https://twitter.example/Tarnwick"},
        {"Title": "Facebook", "Imagen": "FranjaCarta-blue", "ActionData": "http://www.facebook.example/Tarnwick"},
    ])
    write_plist(out, "more.plist", [
        {"Title": "Rate this app", "Action": "rate", "color": "silver"},
        {"Title": "Sign up", "Action": "singUp:", "color": "silver"},
        {"Title": "Invite a friend", "Action": "referral:", "color": "silver"},
        {"Title": "Tell a friend", "Action": "viewEmail:", "color": "silver"},
        {"Title": "Contact us", "color": "black", "email": {
            "para": "cards@%s" % SITE, "subject": "About the interview cards",
            "mensaje": "<p>Hello,</p><p></p>"}},
        {"Title": "Follow us on Twitter", "Action": "followTwitter:", "color": "blue"},
        {"Title": "Follow us on Facebook", "Action": "followFacebook:", "color": "blue"},
    ])
    write_plist(out, "Jobframework.plist", deck_index)

    with open(os.path.join(html, "MKTG_01_blank.html"), "w", encoding="utf-8") as f:
        f.write('<html><head><meta charset="utf-8"><link rel="stylesheet" href="card.css"></head>'
                '<body class="practice">**HEADER**<p class="hint">Tap to see the answer.</p></body></html>\n')
    # The page beside the groups list (its add-group row names it): a hint
    # rather than an empty page.
    with open(os.path.join(html, "VELTRA_Blanco.html"), "w", encoding="utf-8") as f:
        f.write('<html><head><meta charset="utf-8"></head><body><p>Your groups of cards. Tap '
                '&ldquo;add new group&rdquo; to make one: name it and tick the cards for one '
                'interview.</p></body></html>\n')
    rate_page = ('<html><head><meta charset="utf-8"></head><body><p>Enjoying the cards? '
                 '<a href="rateApp">Rate the app</a>.</p></body></html>\n')
    # The rate page screen reads its page from a folder of its own.
    html_rate = os.path.join(out, "html_iphone_VELTRA")
    os.makedirs(html_rate, exist_ok=True)
    for folder in (html, html_rate):
        with open(os.path.join(folder, "VELTRA_RateApp.html"), "w", encoding="utf-8") as f:
            f.write(rate_page)
    for title, page, body in INFO_PAGES:
        for folder in (html, html_ipad):
            with open(os.path.join(folder, page), "w", encoding="utf-8") as f:
                f.write('<html><head><meta charset="utf-8"><link rel="stylesheet" href="card.css"></head>'
                        '<body><h1>%s</h1>%s</body></html>\n' % (title, body))
    # The app's information list: the bundle version counts rate-prompt
    # launches per version; the identifier names the user-defaults file.
    write_plist(out, "Info.plist", {
        "CFBundleIdentifier": "com.tarnwick.korvel",
        "CFBundleName": "Korvel",
        "CFBundleShortVersionString": "1.0",
        "CFBundleVersion": "1.0",
    })
    with open(os.path.join(html, "card.css"), "w", encoding="utf-8") as f:
        f.write("body { font-family: sans-serif; margin: 12px; }\n"
                "h1 { font-size: 1.4em; }\n.question { font-weight: bold; }\n")

    images = os.path.join(out, "images")
    os.makedirs(images, exist_ok=True)
    for colour, rgb in COLOUR_RGB.items():
        for prefix, size in (("CabezaCarta", (32, 8)), ("FondoCarta", (8, 8)), ("FranjaCarta", (32, 4))):
            with open(os.path.join(images, "%s-%s.png" % (prefix, colour)), "wb") as f:
                f.write(png(size[0], size[1], rgb))
    for name, rgb in (("menu-silver.png", (192, 192, 192)), ("fondoTransparencia.png", (0, 0, 0)),
                      ("fondo_ipad_portrait.png", (30, 30, 40)), ("fondo_ipad_landscape.png", (30, 30, 40)),
                      ("icono-iPhone@2x.png", (40, 80, 170)), ("HUDcheckmark.png", (255, 255, 255)),
                      ("tab1.png", (200, 200, 200)), ("tab2.png", (200, 200, 200)), ("tab3.png", (200, 200, 200)),
                      ("tab4.png", (200, 200, 200)), ("tab5.png", (200, 200, 200)),
                      ("splash-fondo.png", (30, 30, 40)), ("splash-1.png", (40, 80, 170)),
                      ("splash-2.png", (50, 140, 70)), ("splash-3.png", (110, 60, 150))):
        with open(os.path.join(images, name), "wb") as f:
            f.write(png(4, 4, rgb))


if __name__ == "__main__":
    main()
