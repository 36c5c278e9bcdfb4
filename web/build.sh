#!/usr/bin/env bash
# build.sh: bundles the report's script and the libraries it uses into the one minified file that
# the Python package ships, python/marrowind/assets/report.js, and the libraries' licences beside
# it (report.js.LICENSES); and the batch index page's script into assets/index.js. Needs Node.js and npm with access to the npm registry; the packages
# are installed exactly as package-lock.json pins them.
set -euo pipefail
cd "$(dirname "$0")"
npm ci --no-audit --no-fund
target=../python/marrowind/assets/report.js
version() { node -p "require('./node_modules/$1/package.json').version"; }
# 3Dmol's build (build/3Dmol.js, what it exports) already holds the few libraries it uses.
banner="/* Marrowind report script, bundled with esbuild $(version esbuild). Includes 3Dmol.js"
banner+=" $(version 3dmol) (BSD-3-Clause, https://3dmol.org), which embeds pako (MIT AND Zlib),"
banner+=" netcdfjs, iobuffer and upng-js (MIT). */"
npx esbuild src/report.js --bundle --minify --format=iife --target=es2020 \
  --legal-comments=none --banner:js="$banner" --outfile="$target"
# The batch's index page has a script of its own, with no libraries.
npx esbuild src/index.js --bundle --minify --format=iife --target=es2020 \
  --banner:js="/* Marrowind batch index script, bundled with esbuild $(version esbuild). */" \
  --outfile=../python/marrowind/assets/index.js
# The licences of everything bundled, beside the bundle: 3Dmol.js and the libraries its build
# carries keep their own notices.
notices=../python/marrowind/assets/report.js.LICENSES
{
  echo "The bundle report.js holds the following libraries, each under its own licence."
  for package in 3dmol pako netcdfjs iobuffer upng-js; do
    printf '\n==== %s %s ====\n\n' "$package" "$(version "$package")"
    cat "node_modules/$package/LICENSE"
  done
} > "$notices"
# The page inlines the script: a "</script" in it would end the element early, and a "<!--"
# could make the parser read past the real end.
for bundle in "$target" ../python/marrowind/assets/index.js; do
  if grep -qiE '</script|<!--' "$bundle"; then
    echo "build.sh: $bundle contains </script or <!-- and cannot be inlined" >&2
    exit 1
  fi
done
