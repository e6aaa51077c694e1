// An example page module on the page library's client: it adds a download,
// shows its progress, reports how it ended and lists what failed. The tests
// compile it against halvo.d.ts.
import { connect, ErrorCode, HalvoError, type Download, type HalvoClient } from 'halvo-page-library';

function element<T extends HTMLElement>(id: string): T {
  const found = document.getElementById(id);
  if (!found) throw new Error(`no #${id} on the page`);
  return found as T;
}

function describe(download: Download): string {
  const size = download.totalBytes === null ? 'unknown size' : `${download.totalBytes} bytes`;
  const left = download.eta === null ? '' : `, ${download.eta} s left`;
  return `${download.fileName}: ${download.state}, ${download.bytesReceived} of ${size}${left}`;
}

function start(client: HalvoClient, url: string, folder: string): Download {
  const download = client.add({ url, folder, connections: 2 });
  const bar = element<HTMLProgressElement>('bar');
  download.addEventListener('progress', (event) => {
    const total = event.download.totalBytes;
    if (total !== null && total > 0) bar.value = event.download.bytesReceived / total;
  });
  download.addEventListener('statechange', (event) => {
    element('state').textContent = `${event.previousState} → ${event.state}`;
  });
  download.addEventListener('error', (event) => {
    if (event.error.code === 'http-error') element('state').textContent = `the server answered ${event.error.httpStatus}`;
  });
  download.finished.then(
    (path) => { element('state').textContent = `saved as ${path}`; },
    (error: HalvoError) => { element('state').textContent = `${error.code}: ${error.message}`; },
  );
  return download;
}

function main(): void {
  let client: HalvoClient;
  try {
    client = connect(element('halvo'));
  } catch (error) {
    if (error instanceof HalvoError && error.code === ErrorCode.PAGE_NOT_ALLOWED) {
      element('state').textContent = 'this site may not use the download engine';
      return;
    }
    throw error;
  }
  const remembered = client.set({ speedLimit: 2048, maxDownloads: 3 });
  element('limit').textContent = remembered.speedLimit === undefined ? 'not set' : `${remembered.speedLimit} KiB/s`;
  client.on('created', (download) => console.log('new:', describe(download)));
  const download = start(client, 'https://downloads.example/files/setup.zip', 'C:\\Downloads');
  element<HTMLButtonElement>('pause').onclick = () => {
    if (download.actions.includes('pause')) download.pause();
    else if (download.actions.includes('resume')) download.resume();
  };
  for (const failed of client.downloads({ state: ['failed', 'cancelled'], url: /example/ })) {
    console.log(describe(failed), failed.error?.code ?? 'no error');
    failed.remove({ deleteFile: true });
  }
}

main();
