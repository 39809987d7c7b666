#!/usr/bin/env bash
# Installs what the build, the tests and the application need on Debian 12, and puts the
# PDFium library from LibreOffice's package into the build tree. Safe to run again.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$here/build}

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-svg-dev libqt6opengl6-dev
  libgl-dev libqpdf-dev qpdf libpcre2-dev zlib1g-dev libzip-dev libsqlite3-dev sqlite3 libssl-dev openssl iproute2
  libgtest-dev libgmock-dev libbenchmark-dev
  libopenjp2-7 libabsl20220623 libbrotli1 liblcms2-2 libjpeg62-turbo libpng16-16 libfreetype6 libicu72
  poppler-utils libxml2-utils locales fonts-dejavu-core fonts-noto-color-emoji qt6-translations-l10n
  libtesseract-dev tesseract-ocr tesseract-ocr-eng tesseract-ocr-rus
  libtasn1-doc shared-mime-info r-doc-pdf gnuplot-doc octave-doc mupdf
  libmicrohttpd-dev libharfbuzz-dev libexpat1-dev
  xvfb xauth imagemagick libx11-dev libxext-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The tests format numbers under a comma-decimal locale.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf8$'; then
  "${sudo_cmd[@]}" sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi

# PDFium: the one library file out of LibreOffice's package, nothing else of it.
pdfium_dir=$build_dir/pdfium
lib=$pdfium_dir/libpdfiumlo.so
if [ ! -s "$lib" ]; then
  mkdir -p "$pdfium_dir"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  ( cd "$work" && apt-get download libreoffice-core-nogui >/dev/null 2>&1 ) || {
    "${sudo_cmd[@]}" apt-get update -qq
    ( cd "$work" && apt-get download libreoffice-core-nogui >/dev/null )
  }
  deb=$(ls "$work"/libreoffice-core-nogui_*.deb)
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" ./usr/lib/libreoffice/program/libpdfiumlo.so
  install -m 0644 "$work/usr/lib/libreoffice/program/libpdfiumlo.so" "$lib"
  rm -rf "$work"
  trap - EXIT
fi

# Runtime libraries of PDFium that a base image may lack.
if ldd "$lib" | grep -q 'not found'; then
  echo "setup: PDFium needs libraries that are not installed:" >&2
  ldd "$lib" | grep 'not found' >&2
  exit 1
fi
