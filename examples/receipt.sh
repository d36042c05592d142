#!/usr/bin/env bash
# A receipt of two lines through the object protocol, with nothing but curl.
#
#   examples/receipt.sh [COM]      COM: the printer's port number (default 1)
#
# The server is $VEKTA_SERVER ("name", "name:port" or a URL; default 127.0.0.1:8460), its token
# $VEKTA_TOKEN (needed only from another computer), the cashier $VEKTA_CASHIER and
# $VEKTA_PASSWORD (default the simulated printer's). Try it on a simulated printer:
#   build/app/vektamanager --simulate 1 &   examples/receipt.sh 1
set -euo pipefail

com=${1:-1}
server=${VEKTA_SERVER:-127.0.0.1:8460}
case $server in
  http://* | https://*) base=${server%/} ;;
  *:*) base=http://$server ;;
  *) base=http://$server:8460 ;;
esac
api=$base/api/v1
headers=(-H 'Content-Type: application/json')
[ -n "${VEKTA_TOKEN:-}" ] && headers+=(-H "Authorization: Bearer $VEKTA_TOKEN")
# Every call that changes the receipt carries a key of its own: when its answer is lost, curl
# sends it once more with the same key, and the server answers from its record instead of
# printing the line again. An answer that came, error or not, is never sent again.
keys=$(date +%s)-$$
retry=(--retry 1 --retry-all-errors --retry-delay 1)

# call MEMBER ARGUMENTS: the call's envelope in $answer; ends the script when the call failed
call() {
  calls=$((calls + 1))
  answer=$(curl -sS --max-time 180 "${retry[@]}" "${headers[@]}" \
    -H "Idempotency-Key: $keys-$calls" -d "$2" "$api/objects/$object/call/$1") || {
    echo "$1: no answer from $base" >&2
    exit 1
  }
  case $answer in
    *'"ok":true'*) ;;
    *)
      echo "$1 failed: $answer" >&2
      exit 1
      ;;
  esac
}

# out NAME ENVELOPE: the value of an [out] parameter
out() {
  sed -n "s/.*\"$1\":\"\{0,1\}\([^\"}]*\)\"\{0,1\}.*/\1/p" <<<"$2"
}

calls=0
created=$(curl -sS --max-time 30 "${headers[@]}" -d '{"progid":"VektaManager.Orbis"}' \
  "$api/objects") || {
  echo "no server at $base" >&2
  exit 1
}
object=$(sed -n 's/.*"object":"\([0-9a-f]*\)".*/\1/p' <<<"$created")
if [ -z "$object" ]; then
  echo "no object: $created" >&2
  exit 1
fi
# the final release detaches the object from its port, whatever happened
trap 'curl -sS --max-time 30 "${headers[@]}" -X DELETE "$api/objects/$object" >/dev/null' EXIT

call Init "[$com,\"${VEKTA_CASHIER:-Касир}\",\"${VEKTA_PASSWORD:-7777777777}\",0,\"receipt.sh\"]"
call OpenCheck '{"DepartmentName":"Бакалея"}'
# arguments in order...
call FiscalLine '["Хліб житній",2,1850,0,1,0,101]'
echo "Хліб житній $(out ThisLineSum "$answer")"
# ...or by name
call FiscalLine '{"GoodsName":"Молоко","Qty":1,"Price":3250,"GoodsDividual":0,
                  "Tax1Index":1,"Tax2Index":0,"Article":102}'
echo "Молоко $(out ThisLineSum "$answer")"
call GetCheckSum '[]'
total=$(out CheckSum "$answer")
echo "СУМА $total"
call CloseCheckEx "[$((total + 50)),0,0,0]"
call GetCheckResult '[]'
echo "чек $(out CheckResult "$answer")"
