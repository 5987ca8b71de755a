// Keeps the page's files for when the server is gone. The cache is named after the
// release, so one release's files are one cache: a new release fills its own on install,
// then drops the older ones once it takes over. Cache first: a kept page starts at once,
// and the same files the page was installed with stay together.
'use strict';

const Release = 'quorvane-@PROJECT_VERSION@';
const Files = ['./', 'index.html', 'quorvane.js', 'quorvane.wasm', 'quorvane.webmanifest', 'quorvane-192.png',
               'quorvane-512.png'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(Release).then((cache) => cache.addAll(Files)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  const older = (name) => name.startsWith('quorvane-') && name !== Release;
  event.waitUntil(caches.keys()
                      .then((names) => Promise.all(names.filter(older).map((name) => caches.delete(name))))
                      .then(() => self.clients.claim()));
});

// The page's own query (?speed, ?seed) does not change the file.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  event.respondWith(caches.match(event.request, {cacheName: Release, ignoreSearch: true})
                        .then((kept) => kept ?? fetch(event.request)));
});
