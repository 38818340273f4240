// Entry of the classic-script bundle of three.js: esbuild wraps it so that
// the page gets one global THREE, since browsers refuse ES modules from
// file:// pages.
export * from 'three';
