#!/usr/bin/env bash
# Gives the Wine prefix's user profile the folders a Chinese Windows has, so
# the program finds a desktop and a Start menu to build its program folder
# from: 桌面 and 「开始」菜单\程序 for the user and for "All Users".
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
users=$WINEPREFIX/drive_c/users
[ -d "$users" ] || exit 0
for u in "${USER:-$(id -un)}" "All Users"; do
  mkdir -p "$users/$u/桌面" "$users/$u/「开始」菜单/程序"
done
me=${USER:-$(id -un)}
[ -e "$users/$me/桌面/记事本.txt" ] || printf 'Qimbo\r\n' >"$users/$me/桌面/记事本.txt"
mkdir -p "$users/$me/「开始」菜单/程序/附件"
[ -e "$users/$me/「开始」菜单/程序/附件/计算器.txt" ] || printf 'Qimbo\r\n' >"$users/$me/「开始」菜单/程序/附件/计算器.txt"
