#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/NAME/.

The seeds are small inputs in the shapes the program, its server and the
tools around it meet: favorites files as the program saves them, skin
databases, configuration files, bookmark exports as browsers and bookmark
services write them, Internet shortcuts, shell links, the protocol's
datagrams. All of them are made here (the bookmark exports of the tests
join them, see run.sh); run it again after changing it.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
KEY = b"Kx3Tz@8W"


def gbk(s):
    return s.encode("gbk")


def encode_text(b):
    """The text cipher: two letters A..P per byte."""
    out = bytearray()
    for i, c in enumerate(b.split(b"\0")[0]):
        x = c ^ KEY[i % 8]
        out += bytes([65 + (x >> 4), 65 + (x & 15)])
    return bytes(out)


def counted(b):
    n = len(b)
    if n < 0xFF:
        return bytes([n]) + b
    if n < 0xFFFE:
        return b"\xff" + struct.pack("<H", n) + b
    return b"\xff\xff\xff" + struct.pack("<I", n) + b


def wide_counted(text):
    """The wide-text tag a reader accepts: FF FE FF, a length in characters, UTF-16LE."""
    u = text.encode("utf-16-le")
    n = len(u) // 2
    head = bytes([n]) if n < 0xFF else b"\xff" + struct.pack("<H", n)
    return b"\xff\xfe\xff" + head + u


def node(name, kind, address=b"", parent=b"", icon=b"", note=b"", visits=0, time=1700000000, slot=0,
         script=0, circle=b"Reserved", wide_name=None):
    name_field = wide_counted(wide_name) if wide_name else counted(encode_text(name))
    return (name_field + struct.pack("<i", kind) + counted(encode_text(address)) +
            counted(encode_text(parent)) + counted(encode_text(icon)) + counted(note) +
            struct.pack("<iIii", visits, time & 0xFFFFFFFF, slot, script) + counted(circle))


def node_coded(coded_name, kind, slot=0):
    """A node whose name field is given as stored (enciphered), e.g. one that decodes with a zero byte."""
    return (counted(coded_name) + struct.pack("<i", kind) + counted(b"") + counted(b"") + counted(b"") +
            counted(b"") + struct.pack("<iIii", 0, 0, slot, 0) + counted(b"Reserved"))


def favorites(nodes):
    return struct.pack("<I", len(nodes)) + b"".join(nodes)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def records(*parts):
    """A multi-part input of the datagram targets: op byte + payload, FF between."""
    out = []
    for op, payload in parts:
        if isinstance(payload, str):
            payload = payload.encode("gbk")
        out.append(op.encode() + payload)
    return b"\xff".join(out)


# ---- favorites files ------------------------------------------------------------
ICON = gbk("C:\\Program Files\\Qimbo收藏\\images\\icon\\ieicon\\IE XP0.ico")
write("favorites_file", "program-save.sc", favorites([
    node(gbk("新闻"), 0, slot=0),
    node(gbk("新浪"), 1, b"http://www.sina.com.cn/", gbk("新闻"), ICON, gbk("每天看"), visits=12, slot=0),
    node(gbk("报道"), 1, b"http://news.example.cn/a?b=1&c=2", gbk("新闻"), ICON, slot=1, circle=b"GROUP"),
    node(gbk("工具"), 0, gbk("C:\\Documents and Settings\\用户\\Favorites\\工具\\"), slot=1, circle=b"GROUP"),
    node(gbk("搜索"), 1, b"http://www.example.com/search?q=%E4%B8%AD", gbk("工具"), slot=29, script=1),
]))
write("favorites_file", "empty.sc", favorites([]))
write("favorites_file", "one-category.qimbop", favorites([
    node(gbk("读书"), 0, slot=7),
    node(gbk("小说"), 1, b"http://book.example.cn/", gbk("读书"), slot=0),
]))
write("favorites_file", "orphans-and-programs.sc", favorites([
    node(gbk("无家"), 1, b"http://a.example/", gbk("不存在"), slot=3),
    node(gbk("记事本"), 3, gbk("C:\\WINDOWS\\"), slot=0),
    node(gbk("附件"), 2, slot=0),
    node(gbk("新闻"), 0, slot=0),
    node(gbk("新闻"), 0, slot=1),
    node(gbk("重复"), 1, b"http://dup.example/", gbk("新闻"), slot=0),
    node(gbk("重复"), 1, b"http://dup.example/", gbk("新闻"), slot=1),
]))
write("favorites_file", "wide-and-long.sc", favorites([
    node(b"", 0, wide_name="宽字符目录", slot=2),
    node(gbk("长地址"), 1, b"http://long.example/" + b"x" * 600, b"", slot=0, wide_name="长地址"),
]))
# Found by fuzzing: records whose second load after a save differed from the first.
write("favorites_file", "category-with-parent.sc", favorites([
    node(gbk("新闻"), 0, b"F", parent=b"X"), node(gbk("新闻"), 0, b"F", parent=b"Y", slot=5),
    node(gbk("新浪"), 1, b"http://www.sina.com.cn/", gbk("新闻"))]))
write("favorites_file", "zero-in-name.sc", favorites([
    node(b"News", 0), node_coded(encode_text(b"News") + b"HKDI", 0, slot=5)]))  # "News", zero, "x"
write("favorites_file", "truncated.sc", favorites([
    node(gbk("新闻"), 0), node(gbk("新浪"), 1, b"http://www.sina.com.cn/", gbk("新闻"))])[:-9])

# ---- skin database ------------------------------------------------------------------
with open(os.path.join(HERE, "..", "tests", "skin", "data", "golden-MySkin.db"), "rb") as f:
    golden = f.read()
write("skin_db", "golden-MySkin.db", golden)
write("skin_db", "three-records.db", golden[: len(golden) * 3 // 5])
write("skin_db", "empty.db", b"")

# ---- configuration file -----------------------------------------------------------
write("config_file", "MyConfig.ini",
      b"[HOTKEY]\r\nFavoriteKey=Ctrl+S\r\n[CHAT]\r\nIF_CHATTIP\t1\r\nChatSendKey=Ctrl+Enter\r\n[END]")
write("config_file", "function-key.ini",
      b"[HOTKEY]\r\nFavoriteKey=Shift+Ctrl+Alt+F5\r\n[CHAT]\r\nIF_CHATTIP\t0\r\nChatSendKey=Enter\r\n[END]")
write("config_file", "short.ini", b"[HOTKEY]\nFavoriteKey=F7\n[END]\n")
write("config_file", "unix-blanks.ini",
      b"[HOTKEY]\nFavoriteKey=  Alt+Q  \n[CHAT]\nIF_CHATTIP   99999999999\nChatSendKey=\n[END]\n")

# ---- bookmark HTML --------------------------------------------------------------------
# The exports of the browsers the tests read (tests/store/html: Chromium's,
# Safari's and Internet Explorer's in code page 936 among them) are seeds too:
# run.sh hands them over beside these.
HEAD = ('<!DOCTYPE NETSCAPE-Bookmark-file-1>\n'
        '<!-- This is an automatically generated file.\n'
        '     It will be read and overwritten.\n'
        '     DO NOT EDIT! -->\n')
write("bookmark_html", "firefox-like.html", HEAD +
      '<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">\n'
      '<meta http-equiv="Content-Security-Policy" content="default-src \'self\'; script-src \'none\'">\n'
      '<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks Menu</H1>\n\n<DL><p>\n'
      '    <DT><H3 ADD_DATE="1700000000" LAST_MODIFIED="1700000100">新闻</H3>\n'
      '    <DD>每天要看的\n'
      '    <DL><p>\n'
      '        <DT><A HREF="https://www.sina.com.cn/" ADD_DATE="1700000001" LAST_MODIFIED="1700000002" '
      'ICON_URI="https://www.sina.com.cn/favicon.ico" ICON="data:image/png;base64,iVBORw0KGgo=">新浪 &amp; 新闻</A>\n'
      '        <DD>门户 &lt;首页&gt; &#21271;&#x4EAC; &nbsp;\n'
      '        <HR>\n'
      '        <DT><A HREF="place:sort=8&amp;maxResults=10">最近</A>\n'
      '    </DL><p>\n'
      '    <DT><H3 PERSONAL_TOOLBAR_FOLDER="true">Bookmarks Toolbar</H3>\n'
      '    <DL><p>\n'
      '        <DT><A HREF="https://example.com/?a=1&b=2" TAGS="x,y" SHORTCUTURL="ex">Example ®™ 😀</A>\n'
      '    </DL><p>\n'
      '    <DT><A HREF="https://loose.example/">Loose</A>\n'
      '</DL>\n')
write("bookmark_html", "declared-gbk.html", (
      '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=GBK">\n'
      '<DL><p>\n<DT><H3>软件</H3>\n<DL><p>\n<DT><A HREF="http://dl.example.cn/">下载站</A>\n</DL><p>\n</DL><p>\n'
      ).encode("gbk"))
write("bookmark_html", "netscape4.html",
      '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<!-- This is an automatically generated file.\n'
      'It will be read and overwritten.\nDo Not Edit! -->\n<TITLE>Bookmarks for Someone</TITLE>\n'
      '<H1>Bookmarks for Someone</H1>\n\n<DL><p>\n'
      '    <DT><H3 FOLDED ADD_DATE="900000000" ID="NC:PersonalToolbar">Personal Toolbar Folder</H3>\n'
      '<DD>Add bookmarks to this folder to see them displayed on the Personal Toolbar\n'
      '    <DL><p>\n'
      '        <DT><A HREF="http://home.netscape.example/" ALIASID="1" ADD_DATE="900000001" '
      'LAST_VISIT="900000002" LAST_MODIFIED="900000003">Home</A>\n'
      '        <DT><A HREF="http://alias.example/" ALIASOF="1">Alias</A>\n'
      '    </DL><p>\n<HR>\n</DL><p>\n')
write("bookmark_html", "service-export.html",
      '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">\n'
      '<!-- <DT><A HREF="https://commented.example/">注释里的</A> -->\n'
      '<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n'
      '<DT><A HREF="https://tagged.example/" ADD_DATE="1600000000" PRIVATE="0" TOREAD="1" TAGS="学习,编程">编程 &amp amp; 学习 &#</A>\n'
      '<DD>note with &unknown; &#99999999; &#xZZ; and a stray &\n'
      '<DT><A HREF=\'single.example\'>单引号</A>\n<DT><A HREF=unquoted.example/x>不加引号</A>\n'
      '</DL><p>\n')

write("bookmark_html", "no-outer-list.html",
      '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n'
      '<DT><H3 ADD_DATE="13340000000000000">新闻</H3>\n<DL><p>\n<DT><A HREF="http://a.example/">A</A>\n</DL><p>\n'
      '<DT><H3>工具</H3>\n<DL><p>\n<DT><A HREF="http://b.example/">B</A>\n</DL><p>\n')
write("bookmark_html", "full-folders.html",
      '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">\n'
      '<DL><p>\n<DT><H3>新闻</H3>\n<DL><p>\n' +
      ''.join('<DT><A HREF="http://n%d.example/">新闻%d</A>\n' % (i, i) for i in range(35)) + '</DL><p>\n' +
      ''.join('<DT><H3>F%d</H3>\n<DL><p>\n<DT><A HREF="http://f%d.example/">L%d</A>\n</DL><p>\n' % (i, i, i)
              for i in range(46)) + '</DL><p>\n')

# Found by fuzzing: an untitled folder, whose links a load after the save dropped.
write("bookmark_html", "untitled-folder.html",
      '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n<DT><H3 ADD_DATE="1"></H3>\n<DL><p>\n'
      '<DT><A HREF="http://a.example/">A</A>\n</DL><p>\n<DT><H3> &nbsp;</H3>\n<DL><p>\n'
      '<DT><A HREF="http://b.example/">B</A>\n</DL><p>\n</DL><p>\n')

# ---- Chromium-family Bookmarks files ---------------------------------------------------
def chromium_url(i, name, url, used="0"):
    return ('{"date_added":"133%014d","date_last_used":"%s","guid":"0f3c1a2e-0000-4000-8000-%012d",'
            '"id":"%d","meta_info":{"power_bookmark_meta":""},"name":"%s","type":"url","url":"%s"}'
            % (i, used, i, i, name, url))


def chromium_folder(i, name, children):
    return ('{"children":[%s],"date_added":"133%014d","date_last_used":"0","date_modified":"0",'
            '"guid":"1a2b3c4d-0000-4000-8000-%012d","id":"%d","name":"%s","type":"folder"}'
            % (",".join(children), i, i, i, name))


def chromium_file(bar, other=(), synced=()):
    roots = ('"bookmark_bar":%s,"other":%s,"synced":%s'
             % (chromium_folder(1, "Bookmarks bar", bar), chromium_folder(2, "Other bookmarks", other),
                chromium_folder(3, "Mobile bookmarks", synced)))
    return '{\n   "checksum": "9e107d9d372bb6826bd81d3542a419d6",\n   "roots": {%s},\n   "version": 1\n}\n' % roots


write("chromium_bookmarks", "nested.json", chromium_file(
    [chromium_url(4, "新浪", "https://www.sina.com.cn/", "13345678901234567"),
     chromium_folder(5, "新闻", [chromium_url(6, "Sports \\u0026 more", "https://sports.example/"),
                               chromium_folder(7, "深层", [chromium_url(8, "deep", "http://deep.example/a?b=1")])])],
    [chromium_folder(9, "工具", [chromium_url(10, "Wiki", "https://wiki.example/")])],
    [chromium_url(11, "phone", "https://m.example/")]))
write("chromium_bookmarks", "empty-roots.json", chromium_file([]))
write("chromium_bookmarks", "odd-addresses.json", chromium_file(
    [chromium_url(4, "script", "javascript:alert(1)"), chromium_url(5, "data", "data:text/html,hi"),
     chromium_url(6, "long", "http://long.example/" + "a" * 2100), chromium_url(7, "file", "file:///C:/a.html")]))
write("chromium_bookmarks", "wrong-types.json",
      '{"roots":{"bookmark_bar":{"children":{"name":"x"},"type":"folder"},"other":[],"synced":7},"version":"1"}')
write("chromium_bookmarks", "truncated.json", chromium_file([chromium_url(4, "a", "http://a.example/")])[:150])

# ---- Internet shortcuts ---------------------------------------------------------------
write("url_file", "ie.url", gbk("[InternetShortcut]\r\nURL=http://www.sina.com.cn/\r\nIDList=\r\nIconFile=http://www.sina.com.cn/favicon.ico\r\nIconIndex=1\r\nHotKey=0\r\n"))
write("url_file", "with-default.url", gbk(
    "[DEFAULT]\r\nBASEURL=http://news.example.cn/报道/\r\n[InternetShortcut]\r\nURL=http://news.example.cn/报道/\r\n"
    "IDList=\r\n[{000214A0-0000-0000-C000-000000000046}]\r\nProp3=19,2\r\nModified=C0D5D2B1A2F8D4010A\r\n"))
write("url_file", "unix-lines.url", b"[InternetShortcut]\nURL=file:///C:/Documents/a.html\nIconFile=C:\\WINDOWS\\system32\\url.dll\nIconIndex=0\n")
write("url_file", "long-value.url", b"[InternetShortcut]\r\nURL=http://x.example/" + b"a" * 400 + b"\r\n")
write("url_file", "many-lines.url", b"[InternetShortcut]\r\n" + b"".join(b"X%d=1\r\n" % i for i in range(40)) + b"URL=http://late.example/\r\n")

# ---- shell links --------------------------------------------------------------------
def shell_link(target, with_idlist=True, network=False):
    """A shell link: the 76-byte header, an item ID list, then the link info
    with its local base path (or a network share)."""
    clsid = bytes.fromhex("0114020000000000c000000000000046")
    flags = 0x2 | (0x1 if with_idlist else 0) | 0x80  # HasLinkInfo, HasLinkTargetIDList, IsUnicode
    header = struct.pack("<I16sIIQQQIIIH", 0x4C, clsid, flags, 0x20, 0, 0, 0, 4096, 0, 1, 0) + b"\0" * 10
    assert len(header) == 76
    body = b""
    if with_idlist:
        item = struct.pack("<H", 20) + b"\x1f\x50" + bytes(16)  # a "My Computer" item
        idlist = item + b"\0\0"
        body += struct.pack("<H", len(idlist)) + idlist
    path = target.encode("gbk") + b"\0"
    if network:
        share = b"\\\\SERVER\\share\0"
        net = struct.pack("<IIIII", 20 + len(share), 0x2, 20, 0, 0x20000) + share
        info_head = 28
        total = info_head + len(net) + len(path) + 1
        info = struct.pack("<IIIIIII", total, info_head, 0x2, 0, 0, info_head, info_head + len(net) + len(path))
        info += net + path + b"\0"
    else:
        volume = struct.pack("<IIII", 17, 3, 0x12345678, 16) + b"\0"
        info_head = 28
        base = info_head + len(volume)
        total = base + len(path) + 1
        info = struct.pack("<IIIIIII", total, info_head, 0x1, info_head, base, 0, base + len(path))
        info += volume + path + b"\0"
    return header + body + info + struct.pack("<H", 0)


write("shell_link", "notepad.lnk", shell_link("C:\\WINDOWS\\system32\\notepad.exe"))
write("shell_link", "chinese.lnk", shell_link("C:\\Program Files\\腾讯\\QQ.exe", with_idlist=False))
write("shell_link", "network.lnk", shell_link("tools\\app.exe", network=True))
write("shell_link", "document.lnk", shell_link("C:\\My Documents\\report.doc"))

# ---- JSON ---------------------------------------------------------------------------
write("json", "fav-make.jsonl",
      '{"name":"新闻","kind":0,"address":"","parent":null,"icon":"","note":"一级目录","visits":0,"time":1000,"slot":0,"script":0,"circle":"Reserved"}\n'
      '{"name":"Sina \\"home\\"","kind":1,"address":"http://sina.com.cn/?a=1&b=2","parent":"新闻","icon":"C:\\\\i\\\\a.ico","note":"备注","visits":12,"time":4294967295,"slot":3,"script":1,"circle":"GROUP"}\n'
      '{"name":"\\u5de5\\u5177 \\ud83d\\ude00","kind":0,"slot":1}\n')
write("json", "skin.json",
      '[{"area": 0, "font": {"height": -12, "width": 0, "escapement": 0, "orientation": 0, "weight": 700, '
      '"italic": 0, "underline": 0, "strikeOut": 0, "charSet": 134, "outPrecision": 3, "clipPrecision": 2, '
      '"quality": 1, "pitchAndFamily": 49}, "faceName": "宋体", "colours": {"normalText": "#323232", '
      '"normalBack": "#D0D0D0", "hoverText": "#323232", "hoverBack": "#FFEAC0", "pressedText": "#323232", '
      '"pressedBack": "#C0C0C0"}, "flat": 0, "clickMark": 1, "image": "BackGround.Bmp"},\n'
      ' {"area": 3, "faceName": "Tahoma", "image": "D:\\\\皮肤\\\\a.bmp"}]\n')
write("json", "numbers.json", '{"a": [1, -0, 1e308, -2147483649, 0.5, true, false, null, "\\t\\u0000"], "b": {}}')

# ---- message text -------------------------------------------------------------------
def frame(n, body):
    return b"<%d>" % n + body + b"\r\n\0"


MSGS = {
    "login": b"<LGI><1060><10001>" + b"<" + encode_text(b"pw1") + b">",
    "login-ok": b"<LGI><OK><10001>",
    "fav-node": b"<FAV><DOWN><NODE><" + encode_text(gbk("新浪")) + b"><1><" + encode_text(b"http://www.sina.com.cn/") +
                b"><" + encode_text(gbk("新闻")) + b"><" + encode_text(b"a.ico") + b">" + gbk("<备注><12><3><GROUP>"),
    "group-list": gbk("<GROUP><LIST><2><读书><192.168.0.2><朋友><200><读书><10.1.2.3><张三><300><读书>"),
    "chat-text": b"<CHAT><TEXT><200><a\xa8\xb5b\xa8\xb6 " + gbk("报道") + b"><60><63488><63><0><0><210><0><0><32768><134><0><" + gbk("宋体") + b">",
    "leaveword": b"<LEAVEWORD><10003><10001>" + gbk("张三给你留言:见面") + b"\xa8\xb5" + b"x",
    "user-enter": gbk("<GROUP><USERENTER><16820416><朋友><200><读书>"),
    "odd": b"x<a<b>c>>d<<>",
}
for i, (name, body) in enumerate(MSGS.items()):
    write("message_fields", name, frame(i + 1, body))

# ---- the client's receive side ----------------------------------------------------------
def node_fields(name, kind, address, parent, slot, note="", circle="Reserved"):
    return (b"<" + encode_text(gbk(name)) + b"><%d><" % kind + encode_text(gbk(address)) + b"><" +
            encode_text(gbk(parent)) + b"><" + encode_text(b"x.ico") + b"><" + gbk(note) + b"><0><%d><" % slot +
            gbk(circle) + b">")


write("client_datagrams", "login-words.bin", records(
    ("S", b"<5><LGI><OK><100>\r\n"), ("S", b"<6><VER><1070>\r\n"),
    ("S", gbk("<7><LWORDS><300><见面ǖ报道ǘ><张三给你留言:>\r\n")), ("S", b"<8><CHATAD><http://ad.example/>\r\n"),
    ("a", b"")))
write("client_datagrams", "download.bin", records(
    ("d", b""), ("S", b"<20><FAV><DOWN><COUNT><3>\r\n"),
    ("S", b"<21><FAV><DOWN><NODE>" + node_fields("读书", 0, "", "", 0) + b"\r\n"),
    ("S", b"<22><FAV><DOWN><NODE>" + node_fields("小说", 1, "http://book.example.cn/", "读书", 0, "好看") + b"\r\n"),
    ("S", b"<23><FAV><DOWN><NODE>" + node_fields("新闻", 0, "", "", 1, "", "GROUP") + b"\r\n"),
    ("t", b""), ("w", b"")))
write("client_datagrams", "upload.bin", records(
    ("u", b""), ("S", b"<30><FAV><UP><ALLOWED>\r\n"), ("S", b"<31><FAV><UP><NODE><OK>\r\n"),
    ("S", b"<32><FAV><UP><NODE><OK>\r\n"), ("t", b""), ("S", b"<33><FAV><UP><NODE><OK>\r\n"), ("c", b"")))
write("client_datagrams", "circle-chat.bin", records(
    ("e", b"\x00"), ("S", gbk("<40><GROUP><UPNODE><OK>\r\n")),
    ("S", gbk("<41><GROUP><LIST><2><新闻><10.0.0.9><我><100><新闻><10.0.0.2><朋友><200><新闻>\r\n")),
    ("P", gbk("<3><GROUP><USERENTER><33554442><新人><400><新闻>\r\n")),
    ("P", b"<4><CHAT><TEXT><200><hi \xa8\xb5there\xa8\xb6><60><63488><63><0><0><210><0><0><32768><134><0><" + gbk("宋体") + b">\r\n"),
    ("M", b"<5><CHAT><TEXT><100><" + gbk("报道") + b">\r\n"), ("a", b""),
    ("x", b"\x01" + gbk("对你说<定点>")), ("x", b"\x00" + gbk("大家好")),
    ("P", gbk("<6><GROUP><USEROUT><200><新闻><33554442><朋友>\r\n")), ("l", b"\x00"), ("i", b"\x01")))
write("client_datagrams", "plaza.bin", records(
    ("S", gbk("<50><CHAT><LIST><2><10.0.0.2><朋友><10.0.0.3><张三>\r\n")),
    ("S", gbk("<51><CHAT><ADDUSER><10.0.0.4><李四>\r\n")),
    ("S", gbk("<52><CHAT><TEXT><300><广场上 法定><60><0><0><0><0><200><0><0><0><134><0><黑体>\r\n")),
    ("S", b"<53><CHAT><DELEUSER><10.0.0.2>\r\n"), ("a", b"\x01")))

# ---- the server ---------------------------------------------------------------------------
def up_node(n, name, kind, address, parent, slot):
    return ("A", b"<%d><FAV><UP><NODE>" % n + node_fields(name, kind, address, parent, slot) + b"\r\n")


PW1 = encode_text(b"pw1")
write("server_datagrams", "login-upload-download.bin", records(
    ("A", b"<1><LGI><1060><100><" + PW1 + b">\r\n"), ("p", b""),
    ("A", b"<2><FAV><UP><COUNT><2><100><pw1>\r\n"), ("p", b""),
    up_node(3, "读书", 0, "", "", 0), up_node(4, "小说", 1, "http://book.example.cn/", "读书", 0),
    ("t", b"1500"),
    ("A", b"<5><FAV><DOWN><REQ><100><pw1>\r\n"), ("p", b""),
    ("A", b"<7><FAV><DOWN><READY>\r\n"), ("A", b"<8><FAV><DOWN><NODE><OK>\r\n"),
    ("t", b"3000"), ("A", b"<9><FAV><DOWN><NODE><OK>\r\n"),
    ("A", b"<10><LGO><100><" + PW1 + b">\r\n")))
write("server_datagrams", "circles-chat.bin", records(
    ("A", b"<1><LGI><1060><100><" + PW1 + b">\r\n"),
    ("B", b"<1><LGI><1060><200><" + encode_text(b"pw2") + b">\r\n"), ("p", b""),
    ("A", gbk("<2><GROUP><UPNODE><100><读书><0><读书><><好书><GROUP>\r\n")),
    ("B", gbk("<2><GROUP><UPNODE><200><读书><0><读书><><><Reserved>\r\n")),
    ("A", b"<3><CHAT><TEXT><100><hello \xa8\xb5a\xa8\xb6><60><0><0><0><0><210><0><0><0><134><0><" + gbk("宋体") + b">\r\n"),
    ("A", gbk("<4><GROUP><DROPOUT><读书><100>\r\n")),
    ("B", gbk("<3><LEAVEWORD><200><300>李四给你留言:明天见\r\n")),
    ("C", b"<1><LGI><1060><300><" + encode_text(b"pw3") + b">\r\n"), ("p", b""),
    ("C", b"<2><REQWORDS><300>\r\n"), ("A", b"<5><LIV><100><" + PW1 + b">\r\n"),
    ("t", b"2700000"), ("B", b"<9><LIV><200><" + encode_text(b"pw2") + b">\r\n")))
write("server_datagrams", "bad-logins.bin", records(
    ("D", b"<1><LGI><1060><100><" + encode_text(b"bad") + b">\r\n"),
    ("D", b"<2><LGI><1060><100><" + encode_text(b"bad") + b">\r\n"), ("p", b""),
    ("D", b"<3><LGI><1060><999><" + PW1 + b">\r\n"), ("E", b"<4><LGI><1060><100><" + PW1 + b">\r\n"),
    ("D", b"<5><FAV><DOWN><REQ><100><bad>\r\n"), ("p", b""), ("D", b"garbage"), ("D", b"<6>")))

# A circle request still open while a download replaces the folder, and the
# circle's member list arriving after that.
write("client_datagrams", "circle-after-download.bin", records(
    ("e", b"\x00"), ("d", b""), ("S", b"<60><FAV><DOWN><COUNT><1>\r\n"),
    ("S", b"<61><FAV><DOWN><NODE>" + node_fields("读书", 0, "", "", 0) + b"\r\n"),
    ("t", b""),
    ("S", gbk("<62><GROUP><LIST><1><新闻><10.0.0.9><我><100><新闻>\r\n"))))

# The find box: a name, a zero byte, the text typed.
write("find_query", "pinyin.bin", gbk("新闻中心") + b"\0xwzx")
write("find_query", "mixed.bin", gbk("百度地图 Google") + b"\0baid goo")
write("find_query", "polyphonic.bin", gbk("银行行长") + b"\0yinxing hangzhang")
write("find_query", "apostrophe.bin", gbk("西安") + b"\0xi'an '")
write("find_query", "width.bin", gbk("ＱＱ邮箱") + b"\0" + gbk("ｑｑ　yx"))
write("find_query", "reference.bin", b"smile&#x1F600;\0&#X1f600; .* [(")
