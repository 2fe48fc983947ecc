"""The local catalogue site as the end-to-end tests use it: the test songs (made once and
cached in the build tree) served on both sites with the sandbox's certificate."""
import os
import pathlib
import sys

import harness
from harness import BUILD

TOOLS = pathlib.Path(__file__).resolve().parents[2] / "tools"
sys.path.insert(0, str(TOOLS))
import catalogue_site  # noqa: E402
import songs  # noqa: E402

CA_DIR = pathlib.Path(os.environ.get("TUNER_CA_DIR", BUILD / "e2e" / "ca"))
SONG_CACHE = BUILD / "e2e" / "songs"
HOST_OF = {"listen_tuner": catalogue_site.SITE_A.host, "download_tuner": catalogue_site.SITE_B.host}


def test_songs():
    return songs.build_catalogue(SONG_CACHE)


def start_site(**options):
    """A running site with the test songs; stop() it (or use it as a context manager)."""
    site = catalogue_site.CatalogueSite(test_songs(), CA_DIR / "server.pem", CA_DIR / "server.key",
                                        **options).start()
    harness.SITES.append(site)
    del harness.SITES[:-2]
    return site
