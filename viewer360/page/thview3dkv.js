// ThView: a 360-degree stereo picture or movie seen from inside a sphere.
// Each eye has its own sphere textured with its half of the equirectangular
// source (top and bottom halves when the source is at most square, left and
// right halves otherwise).  Both eyes are drawn into textures of the canvas
// size and one full-screen shader combines them in the chosen rendering.
//
//   new ThView({id: 'image1', file: [kind, stereoType, swap, path]})
// kind 'p' picture or 'm' movie; stereoType 0 one view, 1 side by side,
// 2 Dubois, 3 colour anaglyph, 4 grey anaglyph, 5 row interlace,
// 6 column interlace, 7 half side by side, 8 half over/under; swap 1
// exchanges the eyes; path a file path or a URL.
(function (global) {
  'use strict';

  var RENDERINGS = 9;
  var ONE_VIEW = 0, SIDE_BY_SIDE = 1;
  var RADIUS = 500;

  var COMPOSE_VERTEX = [
    'varying vec2 vUv;',
    'void main() {',
    '  vUv = uv;',
    '  gl_Position = vec4(position.xy, 0.0, 1.0);',
    '}'].join('\n');

  // Rows and columns count from the top left, 0-based: the left eye lies on
  // odd rows and odd columns, as on the program's own interlaced outputs.
  // Colours are combined as stored (no linearisation), like the program's
  // anaglyphs; the Dubois rows are its least-squares red/cyan matrices.
  var COMPOSE_FRAGMENT = [
    'uniform sampler2D leftEye;',
    'uniform sampler2D rightEye;',
    'uniform int rendering;',
    'uniform vec2 canvasSize;',
    'varying vec2 vUv;',
    'vec3 Dubois(vec3 l, vec3 r) {',
    '  return clamp(vec3(',
    '    dot(vec3(0.4561, 0.500484, 0.176381), l) +',
    '    dot(vec3(-0.0434706, -0.0879388, -0.00155529), r),',
    '    dot(vec3(-0.0400822, -0.0378246, -0.0157589), l) +',
    '    dot(vec3(0.378476, 0.73364, -0.0184503), r),',
    '    dot(vec3(-0.0152161, -0.0205971, -0.00546856), l) +',
    '    dot(vec3(-0.0721527, -0.112961, 1.2264), r)), 0.0, 1.0);',
    '}',
    'void main() {',
    '  vec2 uv = vUv;',
    '  float row = canvasSize.y - 1.0 - floor(gl_FragCoord.y);',
    '  float column = floor(gl_FragCoord.x);',
    '  vec3 c;',
    '  if (rendering == 1 || rendering == 7) {',
    '    c = uv.x < 0.5 ? texture2D(leftEye, vec2(uv.x * 2.0, uv.y)).rgb',
    '                   : texture2D(rightEye, vec2(uv.x * 2.0 - 1.0, uv.y)).rgb;',
    '  } else if (rendering == 8) {',
    '    c = uv.y >= 0.5 ? texture2D(leftEye, vec2(uv.x, uv.y * 2.0 - 1.0)).rgb',
    '                    : texture2D(rightEye, vec2(uv.x, uv.y * 2.0)).rgb;',
    '  } else {',
    '    vec3 l = texture2D(leftEye, uv).rgb;',
    '    vec3 r = texture2D(rightEye, uv).rgb;',
    '    vec3 luma = vec3(0.299, 0.587, 0.114);',
    '    if (rendering == 2) c = Dubois(l, r);',
    '    else if (rendering == 3) c = vec3(l.r, r.g, r.b);',
    '    else if (rendering == 4) c = vec3(dot(l, luma), dot(r, luma), dot(r, luma));',
    '    else if (rendering == 5) c = mod(row, 2.0) > 0.5 ? l : r;',
    '    else if (rendering == 6) c = mod(column, 2.0) > 0.5 ? l : r;',
    '    else c = l;',
    '  }',
    '  gl_FragColor = vec4(c, 1.0);',
    '}'].join('\n');

  function ClampType(type) {
    type = parseInt(type, 10);
    return type >= 0 && type < RENDERINGS ? type : SIDE_BY_SIDE;
  }

  // A local path becomes a file URL; a URL stays as it is.
  function SourceUrl(path) {
    if (/^[a-z][a-z0-9+.-]*:\/\//i.test(path) || /^(blob|data):/i.test(path))
      return path;
    var unix = path.replace(/\\/g, '/');
    if (/^[a-z]:\//i.test(unix)) unix = '/' + unix;  // a drive letter
    return 'file://' + unix.split('/').map(function (part, i) {
      return i === 1 && /^[a-z]:$/i.test(part) ? part : encodeURIComponent(part);
    }).join('/');
  }

  function ThView(options) {
    var file = options.file || [];
    this.kind = file[0] === 'm' ? 'm' : 'p';
    this.stereoType = ClampType(file[1]);
    this.swap = String(file[2]) === '1';
    this.container = document.getElementById(options.id) || document.body;
    this.lon = 180;  // the middle of the picture ahead, its seam behind
    this.lat = 0;
    this.fov = 75;
    this.autoTurn = false;
    this.deviceOn = false;
    this.items = [];
    this.itemIndex = -1;
    this.ready = false;      // a frame with the item on it has been drawn
    this.error = '';
    this.framesDrawn = 0;
    this.pointers = {};
    try {
      this.Build();
    } catch (e) {
      this.Fail('WebGL is not available: ' + e.message);
      return;
    }
    this.ConnectControls();
    if (file[3]) this.Load(SourceUrl(String(file[3])), this.kind);
  }

  ThView.prototype.Build = function () {
    if (THREE.ColorManagement) THREE.ColorManagement.enabled = false;
    var renderer = new THREE.WebGLRenderer({preserveDrawingBuffer: true});
    renderer.outputColorSpace = THREE.LinearSRGBColorSpace;
    renderer.setPixelRatio(global.devicePixelRatio || 1);
    renderer.setSize(global.innerWidth, global.innerHeight);
    renderer.domElement.style.display = 'block';
    this.container.appendChild(renderer.domElement);
    this.renderer = renderer;

    this.scene = new THREE.Scene();
    this.camera = new THREE.PerspectiveCamera(this.fov, 1, 1, RADIUS * 2.2);
    var sphere = new THREE.SphereGeometry(RADIUS, 64, 32);
    sphere.scale(-1, 1, 1);  // seen from inside
    this.eyes = [0, 1].map(function (eye) {
      var mesh = new THREE.Mesh(sphere, new THREE.MeshBasicMaterial());
      mesh.layers.set(eye + 1);
      mesh.visible = false;
      this.scene.add(mesh);
      return mesh;
    }, this);

    var size = this.DrawingSize();
    this.targets = [0, 1].map(function () {
      return new THREE.WebGLRenderTarget(size.x, size.y);
    });
    this.compose = new THREE.ShaderMaterial({
      uniforms: {
        leftEye: {value: null}, rightEye: {value: null},
        rendering: {value: this.stereoType}, canvasSize: {value: size}
      },
      vertexShader: COMPOSE_VERTEX,
      fragmentShader: COMPOSE_FRAGMENT,
      depthTest: false, depthWrite: false
    });
    var quad = new THREE.Mesh(new THREE.PlaneGeometry(2, 2), this.compose);
    quad.frustumCulled = false;
    this.composeScene = new THREE.Scene();
    this.composeScene.add(quad);
    this.composeCamera = new THREE.OrthographicCamera(-1, 1, 1, -1, 0, 1);
    renderer.setAnimationLoop(this.Draw.bind(this));
  };

  ThView.prototype.DrawingSize = function () {
    var v = new THREE.Vector2();
    this.renderer.getDrawingBufferSize(v);
    return v;
  };

  ThView.prototype.Fail = function (text) {
    this.error = text;
    var note = document.getElementById('thview-note');
    if (!note) {
      note = document.createElement('div');
      note.id = 'thview-note';
      note.style.cssText = 'position:fixed;left:1em;top:1em;color:#fff;' +
          'font:16px sans-serif;background:rgba(0,0,0,0.6);padding:0.5em';
      document.body.appendChild(note);
    }
    note.textContent = text;
  };

  // --- Items ---------------------------------------------------------------

  ThView.prototype.Load = function (url, kind) {
    this.ready = false;
    this.ReleaseSource();
    var self = this;
    if (kind === 'm') {
      var video = document.createElement('video');
      video.loop = true;
      video.playsInline = true;
      video.onloadeddata = function () {
        self.SetSource(video, video.videoWidth, video.videoHeight);
      };
      video.onerror = function () { self.Fail('The movie cannot be played: ' + url); };
      video.src = url;
      var playing = video.play();
      // Sound may need a gesture first; a silent movie is better than none.
      if (playing && playing.catch) playing.catch(function () {
        video.muted = true;
        video.play().catch(function () {});
      });
      this.video = video;
    } else {
      var image = new Image();
      image.onload = function () {
        self.SetSource(image, image.naturalWidth, image.naturalHeight);
      };
      image.onerror = function () { self.Fail('The picture cannot be read: ' + url); };
      image.src = url;
    }
  };

  ThView.prototype.ReleaseSource = function () {
    if (this.video) {
      this.video.pause();
      this.video.removeAttribute('src');
      this.video.load();
      this.video = null;
    }
    this.eyes.forEach(function (mesh) {
      if (mesh.material.map) mesh.material.map.dispose();
      mesh.material.map = null;
      mesh.visible = false;
    });
  };

  // A page from file:// may not be allowed to read a file elsewhere into
  // WebGL (browsers treat such files as foreign); say so instead of drawing
  // black.  Files chosen with the page's file button are always readable.
  function Readable(element) {
    try {
      var c = document.createElement('canvas');
      c.width = c.height = 1;
      var g = c.getContext('2d');
      g.drawImage(element, 0, 0, 1, 1);
      g.getImageData(0, 0, 1, 1);
      return true;
    } catch (e) {
      return false;
    }
  }

  ThView.prototype.SetSource = function (element, width, height) {
    if (!width || !height) return this.Fail('The item has no picture.');
    if (!Readable(element))
      return this.Fail('The browser does not let this page read the file; ' +
                       'choose it with the file button below.');
    var base;
    if (element.tagName === 'VIDEO') {
      base = new THREE.VideoTexture(element);
    } else {
      base = new THREE.Texture(this.FitToGpu(element, width, height));
      base.needsUpdate = true;
    }
    base.minFilter = THREE.LinearFilter;
    base.generateMipmaps = false;
    var overUnder = width <= height;
    this.eyes.forEach(function (mesh, eye) {
      var texture = eye === 0 ? base : base.clone();
      if (overUnder) {
        texture.repeat.set(1, 0.5);
        texture.offset.set(0, eye === 0 ? 0.5 : 0);  // the top half is left
      } else {
        texture.repeat.set(0.5, 1);
        texture.offset.set(eye === 0 ? 0 : 0.5, 0);
      }
      mesh.material.map = texture;
      mesh.material.needsUpdate = true;
      mesh.visible = true;
    });
    this.error = '';
    var note = document.getElementById('thview-note');
    if (note) note.remove();
    this.pendingReady = true;
  };

  // Pictures larger than the GPU takes are scaled down first.
  ThView.prototype.FitToGpu = function (image, width, height) {
    var limit = this.renderer.capabilities.maxTextureSize;
    if (width <= limit && height <= limit) return image;
    var scale = limit / Math.max(width, height);
    var canvas = document.createElement('canvas');
    canvas.width = Math.max(1, Math.floor(width * scale));
    canvas.height = Math.max(1, Math.floor(height * scale));
    canvas.getContext('2d').drawImage(image, 0, 0, canvas.width, canvas.height);
    return canvas;
  };

  ThView.prototype.Step = function (by) {
    if (!this.items.length) return;
    var n = this.items.length;
    this.itemIndex = ((this.itemIndex + by) % n + n) % n;
    var item = this.items[this.itemIndex];
    this.Load(item.url, item.kind);
  };

  ThView.prototype.ChooseFiles = function (files) {
    this.items.forEach(function (item) { URL.revokeObjectURL(item.url); });
    this.items = Array.prototype.map.call(files, function (f) {
      var movie = /^video\//.test(f.type) || !/\.jpe?g$/i.test(f.name);
      return {url: URL.createObjectURL(f), kind: movie ? 'm' : 'p'};
    });
    this.itemIndex = -1;
    this.Step(1);
  };

  // --- Settings the buttons change ----------------------------------------

  ThView.prototype.SetStereoType = function (type) {
    this.stereoType = ClampType(type);
    this.compose.uniforms.rendering.value = this.stereoType;
  };

  ThView.prototype.NextStereoType = function () {
    this.SetStereoType((this.stereoType + 1) % RENDERINGS);
  };

  ThView.prototype.SwapEyes = function () { this.swap = !this.swap; };

  ThView.prototype.TogglePlay = function () {
    if (!this.video) {
      this.autoTurn = !this.autoTurn;  // a picture turns slowly instead
      return;
    }
    if (this.video.paused) this.video.play().catch(function () {});
    else this.video.pause();
  };

  ThView.prototype.ToggleDevice = function () {
    var self = this;
    var request = global.DeviceOrientationEvent &&
        global.DeviceOrientationEvent.requestPermission;
    if (!this.deviceOn && request) {
      request().then(function (answer) {
        self.deviceOn = answer === 'granted';
      }).catch(function () {});
      return;
    }
    this.deviceOn = !this.deviceOn;
    if (!this.deviceOn) this.orientation = null;
  };

  // --- Input ---------------------------------------------------------------

  ThView.prototype.ConnectControls = function () {
    var self = this;
    var canvas = this.renderer.domElement;
    canvas.style.touchAction = 'none';
    canvas.addEventListener('pointerdown', function (e) {
      canvas.setPointerCapture(e.pointerId);
      self.pointers[e.pointerId] = {x: e.clientX, y: e.clientY};
      self.grab = {lon: self.lon, lat: self.lat, fov: self.fov,
                   x: e.clientX, y: e.clientY, spread: self.Spread()};
    });
    canvas.addEventListener('pointermove', function (e) {
      if (!self.pointers[e.pointerId]) return;
      self.pointers[e.pointerId] = {x: e.clientX, y: e.clientY};
      var spread = self.Spread();
      if (spread > 0 && self.grab.spread > 0) {  // two fingers: pinch zoom
        self.SetFov(self.grab.fov * self.grab.spread / spread);
        return;
      }
      var degreesPerPixel = self.fov / Math.max(1, global.innerHeight);
      self.lon = self.grab.lon + (self.grab.x - e.clientX) * degreesPerPixel;
      self.lat = self.grab.lat + (e.clientY - self.grab.y) * degreesPerPixel;
    });
    var release = function (e) {
      delete self.pointers[e.pointerId];
      self.grab = {lon: self.lon, lat: self.lat, fov: self.fov,
                   x: e.clientX, y: e.clientY, spread: self.Spread()};
      var rest = Object.keys(self.pointers);
      if (rest.length) {
        self.grab.x = self.pointers[rest[0]].x;
        self.grab.y = self.pointers[rest[0]].y;
      }
    };
    canvas.addEventListener('pointerup', release);
    canvas.addEventListener('pointercancel', release);
    canvas.addEventListener('wheel', function (e) {
      e.preventDefault();
      self.SetFov(self.fov + (e.deltaY > 0 ? 5 : -5));
    }, {passive: false});
    global.addEventListener('keydown', function (e) { self.Key(e); });
    global.addEventListener('resize', function () { self.Resize(); });
    global.addEventListener('deviceorientation', function (e) {
      if (self.deviceOn && e.alpha !== null) self.orientation = e;
    });

    var actions = {
      button0: this.NextStereoType, button1: function () { this.Step(-1); },
      button2: function () { this.Step(1); }, button3: this.SwapEyes,
      button4: this.TogglePlay, button5: this.ToggleDevice,
      button6: this.ToggleBar
    };
    Object.keys(actions).forEach(function (id) {
      var button = document.getElementById(id);
      if (!button) return;
      button.addEventListener('click', function () {
        actions[id].call(self);
        button.blur();  // keys belong to the view, not the button
      });
    });
    var files = document.getElementById('files');
    if (files) files.addEventListener('change', function () {
      if (files.files.length) self.ChooseFiles(files.files);
      files.blur();
    });
  };

  // The distance between two touching fingers, 0 with fewer.
  ThView.prototype.Spread = function () {
    var ids = Object.keys(this.pointers);
    if (ids.length < 2) return 0;
    var a = this.pointers[ids[0]], b = this.pointers[ids[1]];
    return Math.hypot(a.x - b.x, a.y - b.y);
  };

  // "**" folds the bar down to itself and opens it again.
  ThView.prototype.ToggleBar = function () {
    var bar = document.getElementById('button6').parentNode;
    var hidden = !this.barHidden;
    Array.prototype.forEach.call(bar.children, function (child) {
      if (child.id !== 'button6') child.style.display = hidden ? 'none' : '';
    });
    this.barHidden = hidden;
  };

  ThView.prototype.SetFov = function (fov) {
    this.fov = Math.min(100, Math.max(10, fov));
  };

  ThView.prototype.Key = function (e) {
    if (e.target && e.target.tagName === 'INPUT') return;
    var handled = true;
    switch (e.key) {
      case 'ArrowLeft': this.lon -= 5; break;
      case 'ArrowRight': this.lon += 5; break;
      case 'ArrowUp': this.lat += 5; break;
      case 'ArrowDown': this.lat -= 5; break;
      case 'PageUp': case '+': this.SetFov(this.fov - 5); break;
      case 'PageDown': case '-': this.SetFov(this.fov + 5); break;
      case 's': case 'S': this.NextStereoType(); break;
      case 'x': case 'X': this.SwapEyes(); break;
      case 'p': case 'P': this.TogglePlay(); break;
      case 'n': case 'N': this.Step(1); break;
      case 'b': case 'B': this.Step(-1); break;
      default: handled = false;
    }
    if (handled) e.preventDefault();
  };

  ThView.prototype.Resize = function () {
    this.renderer.setPixelRatio(global.devicePixelRatio || 1);
    this.renderer.setSize(global.innerWidth, global.innerHeight);
    var size = this.DrawingSize();
    this.targets.forEach(function (t) { t.setSize(size.x, size.y); });
    this.compose.uniforms.canvasSize.value = size;
  };

  // --- Drawing -------------------------------------------------------------

  var deviceEuler, deviceTurn, screenTurn, zAxis;

  ThView.prototype.Aim = function () {
    var camera = this.camera;
    var o = this.orientation;
    if (this.deviceOn && o) {
      deviceEuler = deviceEuler || new THREE.Euler();
      deviceTurn = deviceTurn || new THREE.Quaternion(-Math.SQRT1_2, 0, 0, Math.SQRT1_2);
      screenTurn = screenTurn || new THREE.Quaternion();
      zAxis = zAxis || new THREE.Vector3(0, 0, 1);
      var d = THREE.MathUtils.degToRad;
      var screenAngle = (screen.orientation && screen.orientation.angle) || 0;
      deviceEuler.set(d(o.beta), d(o.alpha), -d(o.gamma), 'YXZ');
      camera.quaternion.setFromEuler(deviceEuler);
      camera.quaternion.multiply(deviceTurn);
      camera.quaternion.multiply(screenTurn.setFromAxisAngle(zAxis, -d(screenAngle)));
      return;
    }
    if (this.autoTurn) this.lon += 0.1;
    this.lat = Math.max(-85, Math.min(85, this.lat));
    var phi = THREE.MathUtils.degToRad(90 - this.lat);
    var theta = THREE.MathUtils.degToRad(this.lon);
    camera.lookAt(Math.sin(phi) * Math.cos(theta), Math.cos(phi),
                  Math.sin(phi) * Math.sin(theta));
  };

  ThView.prototype.Draw = function () {
    var renderer = this.renderer;
    var size = this.compose.uniforms.canvasSize.value;
    this.Aim();
    this.camera.fov = this.fov;
    // Side by side shows each eye at half width with its own proportions;
    // the half formats squeeze a full view into half the canvas.
    var columns = this.stereoType === SIDE_BY_SIDE ? size.x / 2 : size.x;
    this.camera.aspect = columns / Math.max(1, size.y);
    this.camera.updateProjectionMatrix();
    var eyes = this.stereoType === ONE_VIEW ? [this.swap ? 1 : 0] : [0, 1];
    eyes.forEach(function (eye) {
      this.camera.layers.set(eye + 1);
      renderer.setRenderTarget(this.targets[eye]);
      renderer.clear();
      renderer.render(this.scene, this.camera);
    }, this);
    var first = this.swap ? 1 : 0;
    this.compose.uniforms.leftEye.value = this.targets[first].texture;
    this.compose.uniforms.rightEye.value = this.targets[1 - first].texture;
    renderer.setRenderTarget(null);
    renderer.render(this.composeScene, this.composeCamera);
    this.framesDrawn++;
    if (this.pendingReady) {
      this.pendingReady = false;
      this.ready = true;
    }
  };

  global.ThView = ThView;
})(window);
