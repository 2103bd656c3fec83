#!/usr/bin/env bash
# Signs Windows programs and DLLs in place with Authenticode (SHA-256), with
# the release certificate that the environment names:
#   VELMORA_SIGN_PKCS12          the PKCS#12 file with the certificate and its key
#   VELMORA_SIGN_PASSWORD_FILE   a file whose first line is that file's password
#   VELMORA_SIGN_TIMESTAMP_URL   optional: an RFC 3161 time-stamping server, so
#                                that the signatures stay valid after the
#                                certificate expires
# tools/package.sh calls it for the plug-ins and the installer, makensis for
# the uninstaller it builds. The password goes to osslsigncode as a file,
# never on a command line that a process list or a log could show: only the
# file's first line, through a pipe of this script's own, since osslsigncode
# would take the whole file, a comment line after the password included.
# Usage: tools/sign.sh FILE...
set -euo pipefail
set +x

for name in VELMORA_SIGN_PKCS12 VELMORA_SIGN_PASSWORD_FILE; do
  if [ -z "${!name:-}" ] || [ ! -r "${!name}" ]; then
    echo "sign.sh: $name does not name a readable file" >&2
    exit 1
  fi
done
timestamp=()
if [ -n "${VELMORA_SIGN_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$VELMORA_SIGN_TIMESTAMP_URL")
fi

for file in "$@"; do
  # osslsigncode writes only a new file: one in a folder of its own beside.
  scratch="$(mktemp -d "$file.XXXXXX")"
  signed="$scratch/signed"
  # osslsigncode names the PKCS#12 file in its own errors only; its report
  # of success is left out.
  if ! osslsigncode sign -pkcs12 "$VELMORA_SIGN_PKCS12" -readpass <(head -n 1 -- "$VELMORA_SIGN_PASSWORD_FILE") \
      -h sha256 -n "Velmora Plugin" "${timestamp[@]}" -in "$file" -out "$signed" >/dev/null; then
    rm -rf "$scratch"
    echo "sign.sh: $(basename "$file") could not be signed (see osslsigncode's words above)" >&2
    exit 1
  fi
  chmod --reference="$file" "$signed"
  mv -f "$signed" "$file"
  rmdir "$scratch"
done
