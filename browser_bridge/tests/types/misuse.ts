// Mistakes the page library's types must catch: each line below the
// expectation must fail to compile (the compiler reports an expectation
// that finds no error).
import { connect, Transfer, type Download, type HalvoError } from 'halvo-page-library';

declare const embed: HTMLEmbedElement;
const client = connect(embed);
const download: Download = client.add({ url: 'http://127.0.0.1/a.bin', folder: 'C:\\d' });

// @ts-expect-error a download needs a folder
client.add({ url: 'http://127.0.0.1/a.bin' });
// @ts-expect-error connections are a number
client.add({ url: 'http://127.0.0.1/a.bin', folder: 'C:\\d', connections: '2' });
// @ts-expect-error states are words of their own: a paused download is 'paused'
if (download.state === 'stopped') console.log('never');
// @ts-expect-error the fields are the engine's to change
download.bytesReceived = 0;
// @ts-expect-error the promise gives the file's path
download.finished.then((path: number) => path);
// @ts-expect-error a speed limit is a number of KiB/s
client.set({ speedLimit: '4096' });
// @ts-expect-error there is no such setting
client.set({ speedlimit: 4096 });
// @ts-expect-error what the page set is read-only
client.settings.maxDownloads = 3;
// @ts-expect-error the proxy's password is not kept
console.log(client.settings.proxy?.password);
// @ts-expect-error the client tells of created, changed and erased
client.on('progress', () => {});
// @ts-expect-error removing takes options, not a truth value
download.remove(true);
// @ts-expect-error a search by state takes state words
client.downloads({ state: 2 });
// @ts-expect-error the codes are named
download.finished.catch((error: HalvoError) => error.code === 'timeout');
// @ts-expect-error a progress event is no statechange: it has no previous state
download.addEventListener('progress', (event) => event.previousState);
// @ts-expect-error GetLimitSpeed answers a status, never the limit
const limit: string = new Transfer(embed).getLimitSpeed(0);
console.log(limit);
