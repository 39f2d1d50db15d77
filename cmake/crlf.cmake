# Copies the text file FROM to TO with CR LF line ends (any CR LF already there stays one line end).
#   cmake -DFROM=<file> -DTO=<file> -P crlf.cmake
file(READ "${FROM}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${TO}" "${text}")
