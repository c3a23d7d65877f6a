# What a fleet's nginx needs in Debian's main configuration (the http block is nimbara-weatherd.conf):
#   sed -i -f nginx.conf.sed /etc/nginx/nginx.conf && nginx -t && systemctl reload nginx
# Running it again changes nothing more.

# Each request in flight holds two connections, the client's and one to an instance: Debian's 768
# per worker would turn clients away past a few hundred at a time.
s/^\([[:space:]]*\)worker_connections[[:space:]].*;/\1worker_connections 8192;/

# Take every waiting connection at each turn of the event loop, not one: when a thousand clients
# connect at once (after a reload, with no kept-alive connection to the instances yet), one accept
# per turn kept some of them waiting for over two seconds.
s/^\([[:space:]]*\)#[[:space:]]*multi_accept[[:space:]]\+on;/\1multi_accept on;/

# The descriptors for those connections: a worker may otherwise have only systemd's 1,024.
/^[[:space:]]*worker_rlimit_nofile[[:space:]]/d
/^[[:space:]]*worker_processes[[:space:]]/a worker_rlimit_nofile 20000;
