# Every fuzz target of the project, one call each (see README.md here):
#   veltrano_fuzz_target(<name>               # source: <name>_fuzz.cpp beside this file
#     SOURCES <files relative to the top of the tree>...   # the code under test
#     [QT]                                   # links Qt Core/Network, QCoro and Boost
#     [DEFINES <macro>...]                   # compile definitions of the whole target
#     [SEEDS <folder relative to the top of the tree>]     # seed inputs kept in git
#     [SEED_SCRIPT <python3 script relative to the top; called with an output folder>]
#     [PKG <pkg-config module>...]           # system libraries to link
#     [MAX_LEN <bytes>])                     # input-size cap (default 4096)
# Crashing inputs found are fixed and kept in regressions/<name>/; those, and
# the seeds in git, run in the ordinary test suite (<name>_regressions).

set(_tesscal_sources
  glowkit/tesscal.cpp glowkit/tesscalread.cpp glowkit/tesscalwrite.cpp
  glowkit/tesscalmath.cpp glowkit/tesscalfile.cpp glowkit/caldata.cpp)

# TessCal streams as read from files, CRC checked.
veltrano_fuzz_target(tesscal_read
  SOURCES ${_tesscal_sources}
  SEED_SCRIPT tests/glowkit/tesscal_oracle.py)

# The same reader built without the CRC check, so that mutated records behind
# the trailer are reached as well.
veltrano_fuzz_target(tesscal_nocrc
  SOURCES ${_tesscal_sources}
  DEFINES GLOWKIT_FUZZ_NO_CRC
  SEED_SCRIPT tests/glowkit/tesscal_oracle.py)

# The WWW-Authenticate challenge parser and the Authorization value built from it.
veltrano_fuzz_target(digest_challenge
  SOURCES src/http_client_impl.cpp
  QT
  SEEDS tests/fuzz/seeds/digest_challenge
  MAX_LEN 2048)

# HTTP responses read by the client from a loopback peer.
veltrano_fuzz_target(http_response
  SOURCES src/http_client_impl.cpp
  QT
  SEEDS tests/fuzz/seeds/http_response
  MAX_LEN 16384)

# The colour meters' replies: serial lines and the network report.
veltrano_fuzz_target(cr100_reply
  SOURCES src/meterreplies.cpp
  QT
  SEEDS tests/fuzz/seeds/cr100_reply)
veltrano_fuzz_target(cinemeter_reply
  SOURCES src/meterreplies.cpp
  QT
  SEEDS tests/fuzz/seeds/cinemeter_reply)

# glowkit's text formats: coefficient file, operations document, XinRui table.
veltrano_fuzz_target(cccoeff_read
  SOURCES glowkit/cccoeff.cpp
  SEEDS tests/fuzz/seeds/cccoeff_read)
veltrano_fuzz_target(operations_doc
  SOURCES glowkit/operations.cpp glowkit/caldata.cpp
  SEEDS tests/fuzz/seeds/operations_doc)
veltrano_fuzz_target(xinrui_read
  SOURCES glowkit/xinrui.cpp glowkit/caldata.cpp
  SEEDS tests/fuzz/seeds/xinrui_read)

# FITS capture images (the capture folder reader), through the FITS library.
veltrano_fuzz_target(fits_capture
  SOURCES glowkit/colorspace.cpp glowkit/xinrui.cpp glowkit/caldata.cpp
  PKG CCfits cfitsio
  SEEDS tests/fuzz/seeds/fits_capture
  MAX_LEN 17280)

# Receiver protocols: the Art-Net decoder, and the receiver-control client's
# reply checks and payload conversions.
veltrano_fuzz_target(artnet_decode
  SOURCES glowkit/artnet.cpp
  SEEDS tests/fuzz/seeds/artnet_decode)
veltrano_fuzz_target(revnettool_reply
  SOURCES glowkit/revnettool.cpp
  SEEDS tests/fuzz/seeds/revnettool_reply)

# The processor's JSON replies: the state read's display settings and the
# tile and LDM fetch's receivers.
veltrano_fuzz_target(vantor_reply
  SOURCES src/vantorreplies.cpp
  QT
  SEEDS tests/fuzz/seeds/vantor_reply
  MAX_LEN 16384)

# The update feed's JSON reply: version texts and the offered versions.
veltrano_fuzz_target(updater_feed
  SOURCES src/updater_feed.cpp
  QT
  SEEDS tests/fuzz/seeds/updater_feed)

# The correction file read back from disk, with its write/read round trip.
veltrano_fuzz_target(correction_file
  SOURCES src/correctionfile.cpp
  QT
  SEEDS tests/fuzz/seeds/correction_file
  MAX_LEN 16384)

# Photo headers: JPEG segments walked to the end of the image, PNG dimensions.
veltrano_fuzz_target(photo_header
  SOURCES src/photoheader.cpp
  QT
  SEEDS tests/fuzz/seeds/photo_header
  MAX_LEN 16384)
