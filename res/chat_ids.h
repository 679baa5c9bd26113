// Identifiers of the chat window (the plaza): its template, controls and the
// send-key menu. Included from the chat window's code and from chat.rc.
#pragma once

#define IDD_CHAT_DIALOG 205

#define IDC_CHAT_FONT 1049          // "A": the input box's font
#define IDC_CHAT_SEND_TO_ONE 1085   // "只发给指定人"
#define IDC_CHAT_SEND 1088          // "发送"
#define IDC_CHAT_MEMBERS 1097       // the member list
#define IDC_CHAT_CLOSE 1100         // "关闭"
#define IDC_CHAT_AD 1101            // the advertisement panel
#define IDC_CHAT_TRAY_TIP 1103      // "启用托盘闪烁提示来话"
#define IDC_CHAT_RECEIVE_ONE 1104   // "只接收指定人"
#define IDC_CHAT_POSTER 1106        // "招贴栏": the poster board
#define IDC_CHAT_TITLE 1108         // circle title + "[圈]"
#define IDC_CHAT_SEND_KEY 1109      // "↑": the send-key menu
#define IDC_CHAT_TALK 1111          // the conversation
#define IDC_CHAT_INPUT 1112         // the input box

#define ID_CHAT_SEND_ENTER 4011
#define ID_CHAT_SEND_CTRL_ENTER 4012
