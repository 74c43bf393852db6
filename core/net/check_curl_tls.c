/* Configure-time check: prints the TLS library libcurl was built on. */
#include <curl/curl.h>
#include <stdio.h>

int main(void) {
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  printf("%s", info && info->ssl_version ? info->ssl_version : "none");
  return 0;
}
